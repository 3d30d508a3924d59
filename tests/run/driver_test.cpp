#include "run/driver.h"

#include <regex>

#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;
using run::DropOutcome;

class RunTest : public GatherTest {
protected:
    DropOutcome drop(const std::vector<stdfs::path>& items) { return run::SourceDrop(run, window, fs, items); }
    Lines pane() const { return SplitCrLf(MaskTimes(window.pane())); }
    void expectIdle()
    {
        static const std::regex caption("Pelkor0\\.4\\.2\\.07\\.\\.\\.始[0-9:]{8}停[0-9:]{8}");
        EXPECT_TRUE(std::regex_match(window.caption(), caption)) << window.caption();
        EXPECT_EQ(window.pathDropMode, DropMode::Take);
        EXPECT_EQ(window.paneDropMode, DropMode::Take);
        EXPECT_TRUE(window.menuEnabled);
        EXPECT_FALSE(window.cancelEnabled || window.execEnabledState || window.progressVisible);
        EXPECT_EQ(CancelFlag.load(), 0);
    }
};

TEST_F(RunTest, ARunGathersEachItemInDropOrderWithTheModeAndDestinationReadForEach)
{
    for (const char* f : {"in/a.txt", "in/f/b.txt", "in/c.txt", "in/d.txt", "in/e.txt"}) tree.write(f, f);
    EXPECT_EQ(drop({in("a.txt"), in("f"), in("c.txt")}), DropOutcome::Finished);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(pane(), (Lines {"処理開始...T", in("a.txt") + "…Move-T", in("f/b.txt") + "…Move-T", in("f") + "…フォルダ削除-T",
                              in("c.txt") + "…Move-T", "処理終了...T"}));
    EXPECT_EQ(window.panes[0], "");  // the drop clears the pane
    EXPECT_EQ(window.progressMax, 3);
    EXPECT_EQ(window.progressValue, 3);
    expectIdle();

    // Changed during the run: a copy into out2, typed without its "/"; then relative text, no folder.
    tree.mkdir("out2");
    window.onYield = [this](int n) {
        window.gatherMode = GatherMode::Copy;
        window.path = n == 1 ? (tree / "out2").native() : "out2";
    };
    window.yields = 0;
    EXPECT_EQ(drop({in("d.txt"), in("e.txt"), in("e.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(ListTree(tree / "out2"), (Lines {"e.txt"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"e.txt"}));  // d was moved, read before the first yield
    EXPECT_EQ(window.messageTexts(), (Lines {"送り先フォルダが存在しません"}));
    expectIdle();
}

TEST_F(RunTest, WithoutADestinationFolderTheDropIsRefusedAndNothingIsRecorded)
{
    tree.write("in/a.txt", "a");
    for (const std::string& path : Lines {"", tree.folder("missing"), "relative/", dst() + "\nx"}) {
        window.path = path;
        EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Refused);
    }
    ASSERT_EQ(window.messages.size(), 4u);
    EXPECT_EQ(window.messages[0].text, "送り先フォルダが存在しません");
    EXPECT_EQ(window.messages[0].title, MessageTitle::Application);
    EXPECT_EQ(window.messages[0].icon, MessageIcon::None);
    EXPECT_TRUE(run.DropList.empty());
    EXPECT_TRUE(window.panes.empty());
    EXPECT_EQ(drop({}), DropOutcome::Ignored);

    EXPECT_EQ(run::DestinationDrop(fs, tree / "out"), tree.folder("out"));
    EXPECT_EQ(run::DestinationDrop(fs, "/"), "/");
    EXPECT_EQ(run::DestinationDrop(fs, in("a.txt")), std::nullopt);
    EXPECT_EQ(run::DroppedPath("in/../in/a.txt/"), stdfs::current_path() / "in/a.txt");
    EXPECT_EQ(run::DroppedPath(""), "");
}

TEST_F(RunTest, APreparedRunWaitsForTheExecuteButtonAndAStopThenTouchesNothing)
{
    tree.write("in/a.txt", "a");
    window.set(MenuOption::ExecButton);
    EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Prepared);
    EXPECT_EQ(window.pane(), "実行準備完了\n実行ボタンを押してください");
    EXPECT_TRUE(window.execEnabledState && window.cancelEnabled);
    EXPECT_FALSE(window.menuEnabled || window.progressVisible);
    EXPECT_EQ(window.pathDropMode, DropMode::Refuse);
    EXPECT_EQ(window.paneDropMode, DropMode::Refuse);
    run::CancelClick(run, window, fs);
    EXPECT_EQ(window.pane(), "…処理中止");
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
    expectIdle();

    drop({in("a.txt")});
    EXPECT_EQ(run::ExecuteClick(run, window, fs), run::RunEnd::Finished);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));
    expectIdle();
}

TEST_F(RunTest, AStopOrAFailureEndsTheRunAfterItsItem)
{
    tree.write("in/a.txt", "a");
    tree.write("in/big.bin", Bytes(20 * 1024 * 1024));
    tree.write("in/c.txt", "c");
    stopAtYield(6);  // a.txt's three yields, big.bin's own, its copy's start, its first chunk
    window.gatherMode = GatherMode::Copy;
    EXPECT_EQ(drop({in("a.txt"), in("big.bin"), in("c.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));
    EXPECT_EQ(pane(), (Lines {"処理開始...T", in("a.txt") + "…Copy-T", in("big.bin") + "…処理中止"}));
    expectIdle();

    // A failure stops it without the stop button's line end; a vanished item goes the folder way.
    window.onYield = {};
    window.gatherMode = GatherMode::Move;
    fs.failOn(Call::RenameNoReplace, ENOSPC);
    EXPECT_EQ(drop({in("c.txt"), in("a.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(pane(), (Lines {"処理開始...T", in("c.txt"), in("c.txt") + "…Move-T…処理中止"}));
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
    EXPECT_EQ(drop({in("gone")}), DropOutcome::Stopped);
    EXPECT_EQ(window.messageTexts().back(), "No such file or directory");
    EXPECT_EQ(MaskTimes(window.pane()), "処理開始...T…処理中止");
    expectIdle();

    // A stop asked for before the run is taken at its first item, ending the start line.
    AskStop();
    EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(pane(), (Lines {"処理開始...T", "…処理中止"}));
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
}

}  // namespace
}  // namespace sorvin::test
