#include "run/driver.h"

#include <regex>

#include "shared/run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;
using run::DropOutcome;

class RunTest : public GatherTest {
protected:
    DropOutcome drop(const std::vector<stdfs::path>& items) { return run::SourceDrop(run, window, fs, items); }
    static bool IsRunCaption(const std::string& caption)
    {
        static const std::regex form("Pelkor0\\.4\\.2\\.07\\.\\.\\.始[0-9]{2}:[0-9]{2}:[0-9]{2}停[0-9]{2}:[0-9]{2}:[0-9]{2}");
        return std::regex_match(caption, form);
    }
    void expectIdle()
    {
        EXPECT_EQ(window.pathDropMode, DropMode::Take);
        EXPECT_EQ(window.paneDropMode, DropMode::Take);
        EXPECT_TRUE(window.menuEnabled);
        EXPECT_FALSE(window.cancelEnabled);
        EXPECT_FALSE(window.execEnabledState);
        EXPECT_FALSE(window.progressVisible);
        EXPECT_EQ(CancelFlag.load(), 0);
    }
};

TEST_F(RunTest, ARunGathersEachItemInDropOrderAndShowsTheWholeLogAtTheEnd)
{
    tree.write("in/a.txt", "a");
    tree.write("in/f/b.txt", "b");
    tree.write("in/c.txt", "c");
    EXPECT_EQ(drop({in("a.txt"), in("f"), in("c.txt")}), DropOutcome::Finished);

    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "b.txt", "c.txt"}));
    const Lines pane = SplitCrLf(MaskTimes(window.pane()));
    EXPECT_EQ(pane, (Lines {"処理開始...T", in("a.txt") + "…Move-T", in("f/b.txt") + "…Move-T", in("f") + "…フォルダ削除-T",
                            in("c.txt") + "…Move-T", "処理終了...T"}));
    EXPECT_EQ(window.pane(), run.logText() + "\n" + SplitCrLf(window.pane()).back());
    EXPECT_EQ(window.panes[0], "");  // the drop clears the pane
    EXPECT_TRUE(IsRunCaption(window.caption())) << window.caption();
    EXPECT_EQ(window.progressMax, 3);
    EXPECT_EQ(window.progressValue, 3);
    expectIdle();
}

TEST_F(RunTest, TheModeAndDestinationAreReadForEveryItemByTheDropsRule)
{
    tree.write("in/a.txt", "a");
    tree.write("in/b.txt", "b");
    tree.write("in/c.txt", "c");
    tree.mkdir("out2");
    window.onYield = [this](int n) {
        window.gatherMode = GatherMode::Copy;
        // A folder typed without its "/" is that folder; relative text names none.
        window.path = n == 1 ? (tree / "out2").native() : "out2";
    };
    EXPECT_EQ(drop({in("a.txt"), in("b.txt"), in("c.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));  // read before the first yield
    EXPECT_EQ(ListTree(tree / "out2"), (Lines {"b.txt"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"b.txt", "c.txt"}));
    EXPECT_EQ(window.messageTexts(), (Lines {"送り先フォルダが存在しません"}));
}

TEST_F(RunTest, WithoutADestinationFolderTheDropIsRefusedAndNothingIsRecorded)
{
    tree.write("in/a.txt", "a");
    for (const std::string& path : Lines {"", tree.folder("missing"), "指定されたフォルダは存在しません"}) {
        window.path = path;
        EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Refused);
    }
    ASSERT_EQ(window.messages.size(), 3u);
    EXPECT_EQ(window.messages[0].text, "送り先フォルダが存在しません");
    EXPECT_EQ(window.messages[0].title, MessageTitle::Application);
    EXPECT_EQ(window.messages[0].icon, MessageIcon::None);
    EXPECT_TRUE(run.DropList.empty());
    EXPECT_TRUE(window.panes.empty());
    EXPECT_EQ(drop({}), DropOutcome::Ignored);
    expectIdle();
}

TEST_F(RunTest, TheDestinationDropTakesTheFirstFolderWithATrailingSlash)
{
    tree.write("in/a.txt", "a");
    EXPECT_EQ(run::DestinationDrop(fs, tree / "out"), tree.folder("out"));
    EXPECT_EQ(run::DestinationDrop(fs, "/"), "/");
    EXPECT_EQ(run::DestinationDrop(fs, in("a.txt")), std::nullopt);
}

TEST_F(RunTest, APreparedRunWaitsForTheExecuteButtonAndAStopThenTouchesNothing)
{
    tree.write("in/a.txt", "a");
    window.set(MenuOption::ExecButton);
    EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Prepared);
    EXPECT_EQ(window.pane(), "実行準備完了\n実行ボタンを押してください");
    EXPECT_TRUE(window.execEnabledState);
    EXPECT_TRUE(window.cancelEnabled);
    EXPECT_FALSE(window.menuEnabled);
    EXPECT_EQ(window.pathDropMode, DropMode::Refuse);
    EXPECT_EQ(window.paneDropMode, DropMode::Refuse);
    EXPECT_FALSE(window.progressVisible);

    run::CancelClick(run, window, fs);
    EXPECT_EQ(window.pane(), "…処理中止");
    EXPECT_TRUE(IsRunCaption(window.caption())) << window.caption();
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
    expectIdle();

    // Prepared again, and executed: the list of the drop that prepared it.
    drop({in("a.txt")});
    EXPECT_EQ(run::ExecuteClick(run, window, fs), run::RunEnd::Finished);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));
    expectIdle();
}

TEST_F(RunTest, AStopDuringAnItemEndsTheRunAfterItAndLeavesTheRestAlone)
{
    tree.write("in/a.txt", "a");
    tree.write("in/big.bin", Bytes(20 * 1024 * 1024));
    tree.write("in/c.txt", "c");
    stopAtYield(6);  // a.txt's three yields, big.bin's own, its copy's start, its first chunk
    window.gatherMode = GatherMode::Copy;
    EXPECT_EQ(drop({in("a.txt"), in("big.bin"), in("c.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));
    EXPECT_EQ(SplitCrLf(MaskTimes(window.pane())), (Lines {"処理開始...T", in("a.txt") + "…Copy-T", in("big.bin") + "…処理中止"}));
    expectIdle();
}

TEST_F(RunTest, AFailureThatStopsTheRunEndsItWithoutTheStopButtonsLineBreak)
{
    tree.write("in/a.txt", "a");
    tree.write("in/b.txt", "b");
    fs.failOn(Call::RenameNoReplace, ENOSPC);
    EXPECT_EQ(drop({in("a.txt"), in("b.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(SplitCrLf(MaskTimes(window.pane())), (Lines {"処理開始...T", in("a.txt"), in("a.txt") + "…Move-T…処理中止"}));
    EXPECT_TRUE(stdfs::exists(in("b.txt")));
    expectIdle();
}

TEST_F(RunTest, AVanishedItemGoesTheFolderWayAndIsReported)
{
    EXPECT_EQ(drop({in("gone")}), DropOutcome::Stopped);
    EXPECT_EQ(window.messageTexts(), (Lines {"No such file or directory"}));
    EXPECT_EQ(MaskTimes(window.pane()), "処理開始...T…処理中止");
}

}  // namespace
}  // namespace sorvin::test
