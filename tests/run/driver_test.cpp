#include "run/driver.h"

#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;
using run::DropOutcome;

class RunTest : public GatherTest {
protected:
    DropOutcome drop(const std::vector<stdfs::path>& items) { return run::SourceDrop(run, window, fs, items); }
    Lines pane() const { return SplitLines(MaskTimes(window.pane())); }
    void expectIdle()
    {
        EXPECT_TRUE(window.pathDropMode == DropMode::Take && window.paneDropMode == DropMode::Take && window.menuEnabled);
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
    EXPECT_EQ(MaskTimes(window.panes.at(2)), "処理開始...T");  // shown before the first item's line
    EXPECT_TRUE(MaskTimes(window.caption()).ends_with("...始T停T"));
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
    EXPECT_EQ(pane(), (Lines {"処理開始...T", in("d.txt") + "…Move-T", in("e.txt") + "…Copy-T…処理中止"}));
    EXPECT_EQ(window.messageTexts(), (Lines {"送り先フォルダが存在しません"}));
    expectIdle();

    // A stop taken between two moves across file systems: the first one's batch ends before the run does.
    TempTree shm("/dev/shm");
    window.path = shm.root().native();
    window.gatherMode = GatherMode::Move;
    window.onYield = [&](int) { if (stdfs::exists(shm / "g.txt")) run::CancelClick(run, window, fs); };
    EXPECT_EQ(drop({tree.write("in/g.txt", "g"), tree.write("in/h.txt", "h")}), DropOutcome::Stopped);
    EXPECT_EQ(pane(), (Lines {"処理開始...T", in("g.txt") + "…Move-T", "…処理中止"}));
}

TEST_F(RunTest, WithoutADestinationADropIsRefusedAPreparedRunWaitsForExecuteAndAStopOrAFailureEndsIt)
{
    for (const char* f : {"in/a.txt", "in/c.txt"}) tree.write(f, f);
    fs.failOn(Call::FolderExists, EACCES);  // a destination that cannot be looked into is none
    for (const std::string& path : Lines {dst(), "", tree.folder("missing"), "relative/", dst() + "\nx"}) {
        window.path = path;
        EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Refused);
    }
    EXPECT_EQ(window.messageTexts(), Lines(5, "送り先フォルダが存在しません"));
    EXPECT_TRUE(run.DropList.empty() && window.panes.empty());
    EXPECT_EQ(run::DestinationDrop(fs, tree / "out"), tree.folder("out"));
    EXPECT_EQ(run::DestinationDrop(fs, in("a.txt")), std::nullopt);
    EXPECT_TRUE(run::DroppedPath("in/../in/a.txt/") == stdfs::current_path() / "in/a.txt" && run::DroppedPath("//") == "/");

    window.path = dst();
    window.set(MenuOption::ExecButton);
    EXPECT_EQ(drop({in("a.txt")}), DropOutcome::Prepared);
    EXPECT_TRUE(window.execEnabledState && window.cancelEnabled && window.pathDropMode == DropMode::Refuse && window.paneDropMode == DropMode::Refuse &&
                !window.menuEnabled);
    run::CancelClick(run, window, fs);
    EXPECT_EQ(window.pane(), "…処理中止");
    expectIdle();
    drop({in("a.txt")});
    EXPECT_EQ(run::ExecuteClick(run, window, fs), run::RunEnd::Finished);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));

    // A failure stops it after its item without the stop button's line end; a vanished item goes the folder way.
    window.set(MenuOption::ExecButton, false);
    fs.failOn(Call::RenameNoReplace, ENOSPC);
    EXPECT_EQ(drop({in("c.txt"), in("a.txt")}), DropOutcome::Stopped);
    EXPECT_EQ(pane(), (Lines {"処理開始...T", in("c.txt"), in("c.txt") + "…Move-T…処理中止"}));
    EXPECT_EQ(drop({in("gone")}), DropOutcome::Stopped);
    EXPECT_EQ(window.messageTexts().back(), "No such file or directory");
    expectIdle();

    // The stop button in the middle of a copy ends the run there, its line left open; twice over.
    fs.clearFaults();
    tree.write("in/p.txt", "p");
    tree.write("in/big.bin", Bytes(20 << 20));
    window.gatherMode = GatherMode::Copy;
    for (int twice = 0; twice < 2; ++twice) {
        stdfs::remove(tree / "out/p.txt");
        window.yields = 0;
        stopAtYield(6);  // p.txt's three yields, big.bin's own, its copy's start, its first chunk
        EXPECT_EQ(drop({in("p.txt"), in("big.bin"), in("c.txt")}), DropOutcome::Stopped);
        EXPECT_EQ(pane(), (Lines {"処理開始...T", in("p.txt") + "…Copy-T", in("big.bin") + "…処理中止"}));
        EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "p.txt"}));
        expectIdle();
    }
}

}  // namespace
}  // namespace sorvin::test
