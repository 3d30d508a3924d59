#include <cerrno>

#include "shared/run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

class FolderMoveTest : public GatherTest {
protected:
    // in/a: x, y and b/z.
    void makeTree()
    {
        tree.write("in/a/x", "x");
        tree.write("in/a/y", "yy");
        tree.write("in/a/b/z", "zzz");
    }
};
class FolderCopyTest : public FolderMoveTest {};

TEST_F(FolderMoveTest, FlattenedAllFilesLandInTheDestinationAndFoldersGoDeepestFirst)
{
    makeTree();
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"x", "y", "z"}));
    EXPECT_EQ(ListTree(tree / "in"), Lines {});
    EXPECT_EQ(logLines(), (Lines {
                              in("a/x") + "…Move-T",
                              in("a/y") + "…Move-T",
                              in("a/b/z") + "…Move-T",
                              in("a/b") + "…フォルダ削除-T",
                              in("a") + "…フォルダ削除-T",
                          }));
    EXPECT_EQ(MaskTimes(window.pane()), in("a") + "…フォルダ削除-T");
}

TEST_F(FolderMoveTest, StructureKeptCreatesEachFolderAndStartsAgainOnIt)
{
    makeTree();
    window.keep = true;
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a/", "a/b/", "a/b/z", "a/x", "a/y"}));
    const Lines expected {
        dst() + "a…フォルダ作成-T",
        in("a/x") + "…Move-T",
        in("a/y") + "…Move-T",
        dst() + "a/b…フォルダ作成-T",
        in("a/b/z") + "…Move-T",
        in("a/b") + "…フォルダ削除-T",
        in("a") + "…フォルダ削除-T",
    };
    EXPECT_EQ(logLines(), expected);

    // Into an existing copy: merged, with collisions renamed.
    makeTree();
    window.panes.clear();
    run.start();
    tree.write("in/a/x", "other");
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out/a"), (Lines {"b/", "b/z", "x", "x_000", "y"}));
    EXPECT_EQ(logLines().front(), in("a/x_000") + "…Rename後Move-T");
}

TEST_F(FolderMoveTest, AFolderStillHoldingAFileIsKeptWithEveryAncestor)
{
    makeTree();
    tree.write("in/a/b/empty", "");
    window.set(MenuOption::ErrMushi);
    fs.failOn(Call::RenameNoReplace, EIO, EndsWith("/b/empty"));
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"a/", "a/b/", "a/b/empty"}));
    const Lines lines = logLines();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines {
                                                       in("a/b") + "…削除しない(フォルダが空ではない)-T",
                                                       in("a") + "…削除しない(フォルダが空ではない)-T",
                                                   }));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(FolderMoveTest, TheDestinationAsTheSourceOrInsideItIsRecognisedHoweverItIsWritten)
{
    makeTree();
    stdfs::create_directory_symlink(tree / "in/a/b", tree / "blink");
    engine.FolderMove2(in("a"), tree.folder("in/a"));
    engine.FolderMove2(in("a"), tree.folder("in/a/b"));
    engine.FolderMove2(in("a"), tree.folder("blink"));
    engine.FolderMove2(in("a"), tree.folder("out/../in/a"));
    EXPECT_EQ(logLines(), (Lines {
                              in("a") + "…移動元と移動先が同じ-T",
                              in("a") + "…移動元の中に移動先がある-T",
                              in("a") + "…移動元の中に移動先がある-T",
                              in("a") + "…移動元と移動先が同じ-T",
                          }));
    EXPECT_EQ(ListTree(tree / "in/a"), (Lines {"b/", "b/z", "x", "y"}));
}

TEST_F(FolderMoveTest, StructureKeptIntoTheSourcesOwnParentMovesNothingAndRemovesNothing)
{
    makeTree();
    window.keep = true;
    engine.FolderMove2(in("a"), tree.folder("in"));
    EXPECT_EQ(logLines(), (Lines {
                              in("a/x") + "…移動元と移動先が同じ-T",
                              in("a/y") + "…移動元と移動先が同じ-T",
                              in("a/b/z") + "…移動元と移動先が同じ-T",
                          }));
    EXPECT_EQ(ListTree(tree / "in/a"), (Lines {"b/", "b/z", "x", "y"}));
}

TEST_F(FolderMoveTest, AVanishedFolderIsReportedWithItsDescriptionAndNoLine)
{
    engine.FolderMove2(in("gone"), dst());
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, "No such file or directory");
    EXPECT_EQ(window.messages[0].title, MessageTitle::Application);
    EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(CancelFlag.load(), 1);
    EXPECT_TRUE(run.logText().empty());

    // Ignored, it still ends the call: there is nothing to walk.
    CancelFlag = 0;
    window.set(MenuOption::ErrMushi);
    engine.FolderMove2(in("gone"), dst());
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(FolderMoveTest, AFolderThatCannotBeRemovedIsReportedAndTheRunStops)
{
    tree.mkdir("in/a");
    fs.failOn(Call::RemoveEmptyFolder, EACCES);
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"フォルダ書き込みエラー。"}));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…フォルダ削除-T"}));
    EXPECT_EQ(CancelFlag.load(), 1);
    EXPECT_TRUE(stdfs::exists(in("a")));
}

TEST_F(FolderMoveTest, AStopDuringTheWalkMovesNothingMoreAndRemovesNothing)
{
    makeTree();
    stopAtYield(3);  // the folder's yield, x's, then y's: y is not moved
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"x"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"a/", "a/b/", "a/b/z", "a/y"}));
    EXPECT_EQ(logLines(), (Lines {in("a/x") + "…Move-T", ""}));
}

// Another program swaps a folder of the run for a link to a folder outside the trees that holds
// the same names, at each step where it can. The run goes on in the folder it opened, or fails
// the step as a path not found; nothing outside the trees is moved or deleted.
TEST_F(FolderMoveTest, AFolderSwappedForALinkNeverLeadsTheRunOutOfItsTrees)
{
    struct Case {
        std::string step;
        Call call;
        std::string callPath, swapped;  // relative to the tree
        bool keep;
        Lines messages;
        Lines gathered;  // what the destination ends up holding
    };
    const std::string enoent = "No such file or directory", enotdir = "Not a directory";
    const Case cases[] = {
        {"before a folder is opened", Call::OpenFolder, "in/a/b", "in/a/b", false, {enotdir}, {"x", "y"}},
        {"before a folder is listed", Call::List, "in/a/b", "in/a/b", false, {enoent}, {"x", "y", "z"}},
        {"between listing and moving a file", Call::RenameNoReplace, "in/a/x", "in/a", false, {enoent}, {"x", "y", "z"}},
        {"before an emptied folder is removed", Call::RemoveEmptyFolder, "in/a/b", "in/a/b", false, {enoent}, {"x", "y", "z"}},
        {"a kept destination folder before a file goes into it", Call::RenameNoReplace, "in/a/x", "out/a", true, {},
         {"../victim", "a.aside/", "a.aside/b/", "a.aside/b/z", "a.aside/x", "a.aside/y"}},  // the link, resolved
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        for (const char* folder : {"in", "out", "victim"}) RemoveTree(tree / folder);
        tree.mkdir("out");
        makeTree();
        tree.write("victim/x", "victim's x");
        tree.write("victim/b/z", "victim's z");
        tree.mkdir("victim/a/b");
        const Contents victim = ReadContents({tree / "victim"});
        CancelFlag = 0;
        window.messages.clear();
        window.keep = c.keep;
        fs.clearFaults();
        fs.swapForLinkOn(c.call, EndsWith(c.callPath), tree / c.swapped, tree / (c.swapped + ".aside"), tree / "victim");

        engine.FolderMove2(in("a"), dst());
        EXPECT_EQ(ReadContents({tree / "victim"}), victim);
        EXPECT_EQ(ListTree(tree / "victim"), (Lines {"a/", "a/b/", "b/", "b/z", "x"}));
        EXPECT_EQ(window.messageTexts(), c.messages);
        EXPECT_EQ(ListTree(tree / "out"), c.gathered);
    }
}

TEST_F(FolderCopyTest, StructureKeptRecreatesTheTreeAndLeavesTheSource)
{
    makeTree();
    window.keep = true;
    engine.FolderCopy2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a/", "a/b/", "a/b/z", "a/x", "a/y"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"a/", "a/b/", "a/b/z", "a/x", "a/y"}));
    EXPECT_EQ(logLines(), (Lines {
                              dst() + "a…フォルダ作成-T",
                              in("a/x") + "…Copy-T",
                              in("a/y") + "…Copy-T",
                              dst() + "a/b…フォルダ作成-T",
                              in("a/b/z") + "…Copy-T",
                          }));

    // The destination inside the source: the copy never walks into its own output.
    run.start();
    engine.FolderCopy2(in("a"), tree.folder("in/a/b"));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…コピー元の中にコピー先がある-T"}));
    EXPECT_EQ(ListTree(tree / "in/a/b"), (Lines {"z"}));
}

TEST_F(FolderCopyTest, ARootSourceContainsEveryDestination)
{
    fs.failOn(Call::List, EIO, {}, 0, -1);  // were the check to miss, nothing is walked
    engine.FolderCopy2("/", dst());
    EXPECT_EQ(logLines(), (Lines {"/…コピー元の中にコピー先がある-T"}));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(FolderCopyTest, AFailedFolderCreationIsLoggedAndNeverRetriedWithoutEnd)
{
    makeTree();
    window.keep = true;
    fs.failOn(Call::CreateFolder, ENOSPC);
    engine.FolderCopy2(in("a"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"書き込み先の容量不足です。"}));
    EXPECT_EQ(window.messages[0].title, MessageTitle::Application);
    EXPECT_EQ(logLines(), (Lines {dst() + "a…フォルダ作成-T"}));
    EXPECT_EQ(CancelFlag.load(), 1);
    EXPECT_TRUE(ListTree(tree / "out").empty());

    CancelFlag = 0;
    run.start();
    window.set(MenuOption::ErrMushi);
    fs.failOn(Call::CreateFolder, EIO, {}, 0, -1);
    engine.FolderCopy2(in("a"), dst());
    EXPECT_EQ(fs.calls(Call::CreateFolder), 2);
    EXPECT_EQ(logLines(), (Lines {dst() + "a…フォルダ作成-T"}));
    EXPECT_EQ(window.messages.size(), 1u);

    // A permission failure has the copy's own wording.
    CancelFlag = 0;
    fs.clearFaults();
    fs.failOn(Call::CreateFolder, EACCES);
    engine.FolderCopy2(in("a"), dst());
    EXPECT_EQ(window.messages.back().text, "フォルダ書き込みエラーです。");
}

TEST_F(FolderCopyTest, AnUnreadableFolderIsReportedAndWalkedAsEmpty)
{
    makeTree();
    fs.failOn(Call::List, EIO, EndsWith("/a/b"));
    engine.FolderCopy2(in("a"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"Input/output error"}));
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"x", "y"}));
    EXPECT_EQ(CancelFlag.load(), 1);
}

}  // namespace
}  // namespace sorvin::test
