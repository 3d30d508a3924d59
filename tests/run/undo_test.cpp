// Taking a run back with sorvin-cli --undo: the trees come back exactly (names, contents, modes,
// files' times, folders), and what changed since the run stays where it is.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "run/undo.h"
#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

// Every entry below `roots` by path: its type, permission bits, and for a file or a link its
// modification time and bytes or target. A folder's time is not given back, and is left out.
std::map<std::string, std::string> Picture(const std::vector<stdfs::path>& roots)
{
    std::map<std::string, std::string> picture;
    for (const stdfs::path& root : roots) {
        if (!stdfs::exists(root)) continue;
        for (const auto& e : stdfs::recursive_directory_iterator(root)) {
            struct stat st {};
            lstat(e.path().c_str(), &st);
            std::string what = std::to_string(st.st_mode);
            if (!S_ISDIR(st.st_mode))
                what += " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
                        (S_ISLNK(st.st_mode) ? "-> " + stdfs::read_symlink(e.path()).native() : ReadFile(e.path()));
            picture[e.path().native()] = what;
        }
    }
    return picture;
}

void Age(const stdfs::path& p, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

Lines OutLines(const CliOutcome& o) { return SplitLines(MaskTimes(o.out)); }  // the last one empty

class UndoTest : public ::testing::Test {
protected:
    void SetUp() override { stdfs::remove_all(CliStateHome() / "sorvin"); }
    TempTree tree;
};

// Moves and copies, flattened and with the structure kept, on one file system and across two;
// the sources meet a taken name and an identical file, a link and an empty folder.
TEST_F(UndoTest, EveryRunComesBackExactlyAndATrialUndoChangesNothing)
{
    const bool second = HaveSecondFileSystem();
    for (const auto& [options, across] : std::vector<std::pair<Lines, bool>> {{{}, false}, {{"--keep-structure"}, false}, {{"--copy"}, false},
                                                                            {{"--copy", "--keep-structure"}, false}, {{}, true}, {{"--keep-structure"}, true}}) {
        SCOPED_TRACE(::testing::PrintToString(options) + (across ? " across file systems" : ""));
        if (across && !second) continue;
        TempTree shm("/dev/shm");
        const TempTree& from = across ? shm : tree;
        // d's name holds what the journal has to write escaped: a backslash, a tab, a line feed.
        for (const auto& [f, bytes] : {std::pair<std::string, std::string> {"in/a.txt", "same bytes"}, {"in/b.txt", "taken name"},
                                       {"in/sub/c.txt", Bytes(3000, 3)}, {"in/sub/deep/d\\\t\n.bin", Bytes(70000, 4)}})
            from.write(f, bytes);
        stdfs::create_symlink("c.txt", from / "in/sub/link");
        from.mkdir("in/empty");
        tree.write("out/a.txt", "same bytes");
        tree.write("out/b.txt", "other");
        for (const auto& [rel, mode] : {std::pair {"in/a.txt", 0604}, {"in/sub/c.txt", 0600}, {"in/sub", 0750}, {"in/empty", 0700}})
            chmod((from / rel).c_str(), static_cast<mode_t>(mode));
        Age(from / "in/a.txt", 1500000000);
        Age(from / "in/sub/link", 1400000000);
        Age(from / "in/sub/c.txt", 1300000000);
        const std::vector<stdfs::path> roots {from / "in", tree / "out"};
        const auto before = Picture(roots);

        Lines args = options;
        args.insert(args.end(), {(tree / "out").native(), (from / "in").native()});
        CliOutcome o = RunCli(args, tree.root());
        ASSERT_EQ(o.status, 0) << o.err;
        const auto gathered = Picture(roots);
        ASSERT_NE(gathered, before);

        const CliOutcome trial = RunCli({"--undo", "--dry-run"}, tree.root());
        EXPECT_EQ(trial.status, 0) << trial.err;
        EXPECT_EQ(Picture(roots), gathered) << "a trial undo changed something";
        o = RunCli({"--undo"}, tree.root());
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(OutLines(trial), OutLines(o));
        EXPECT_NE(o.out.find(std::ranges::count(options, "--copy") ? "…コピー削除" : "…元の場所に戻した"), std::string::npos);
        EXPECT_EQ(Picture(roots), before) << o.out;
        o = RunCli({"--undo"}, tree.root());
        EXPECT_EQ(o.out, "元に戻す処理はありません\n");
        EXPECT_EQ(o.status, 0);
        RemoveTree(tree / "in");
        RemoveTree(tree / "out");
    }
}

// After the run a gathered file was changed, a file put under a moved file's old name and a
// folder the run made got a file of its own: those stay, the rest comes back, and the undo can
// be asked again. A duplicate's copy back that a stop or a crash cut short before its time and
// bits came back is finished.
TEST_F(UndoTest, WhatChangedSinceTheRunIsLeftAndReported)
{
    for (const char* f : {"in/x.txt", "in/y.txt", "in/z.txt"}) tree.write(f, std::string(1, f[3]));
    for (const char* f : {"out/w.txt", "dup/w.txt"}) tree.write(f, "w");
    Age(tree / "dup/w.txt", 1500000000);
    const auto dup = Picture({tree / "dup"});
    ASSERT_EQ(RunCli({"--keep-structure", "out", "in", "dup/w.txt"}, tree.root()).status, 0);
    stdfs::copy_file(tree / "out/w.txt", tree / "dup/w.txt");
    stdfs::last_write_time(tree / "dup/w.txt", stdfs::last_write_time(tree / "out/w.txt"));
    const auto xTime = stdfs::last_write_time(tree / "out/in/x.txt");
    stdfs::last_write_time(tree.write("out/in/x.txt", "x changed"), xTime);  // its time as the run left it: the size tells
    tree.write("in/y.txt", "Y");  // the moved y's size and time, other bytes
    stdfs::last_write_time(tree / "in/y.txt", stdfs::last_write_time(tree / "out/in/y.txt"));
    tree.write("out/in/new.txt", "new");

    const std::string root = tree.root().native();
    Lines expected {"元に戻す処理開始...T", root + "/dup/w.txt…同一ファイルから復元-T", root + "/in/z.txt…元の場所に戻した-T", root + "/in/y.txt…元の場所に同名のものがあるため戻さない-T",
                    root + "/out/in/x.txt…変更されているため戻さない-T", root + "/out/in…削除しない(フォルダが空ではない)-T",
                    "元に戻す処理終了...T", ""};
    // Asked again, the same run: what went back the first time passes silently.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const CliOutcome o = RunCli({"--undo"}, tree.root());
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(OutLines(o), expected);
        expected.erase(expected.begin() + 1, expected.begin() + 3);
        EXPECT_EQ(Picture({tree / "dup"}), dup);
        EXPECT_EQ(ListTree(tree / "in"), (Lines {"y.txt", "z.txt"}));
        EXPECT_EQ(ListTree(tree / "out"), (Lines {"in/", "in/new.txt", "in/x.txt", "in/y.txt", "w.txt"}));
        EXPECT_EQ(ReadFile(tree / "in/y.txt"), "Y");
        EXPECT_EQ(ReadFile(tree / "out/in/x.txt"), "x changed");
    }
}

// Through a file system that fails on demand: copies back whose batch cannot be made durable go again and
// their gathered files stay; a name taken at the old place just before the rename back is left.
TEST_F(UndoTest, FailuresDuringTheUndoLeaveTheGatheredFiles)
{
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is not a second file system";
    TempTree shm("/dev/shm");
    for (const std::string f : {"a", "b", "c"}) shm.write("in/" + f, f);
    ASSERT_EQ(RunCli({".", (shm / "in").native(), tree.write("near/d", "d").native()}, tree.root()).status, 0);
    ::setenv("XDG_STATE_HOME", CliStateHome().c_str(), 1);
    fs::PosixFs posix;
    FaultInjectingFs fs(posix);
    fs.failOn(Call::MakeDurable, EIO, EndsWith("/b"), 0, -1);
    fs.failOn(Call::RenameNoReplace, EEXIST, EndsWith("/d"));
    RecordingWindow window;
    EXPECT_EQ(run::RunUndo(window, fs, false), run::UndoEnd::SomeLeft);
    EXPECT_TRUE(ListTree(shm / "in").empty() && ListTree(tree.root()) == (Lines {"a", "b", "c", "d", "near/"}));
    const std::string in = (shm / "in").native();
    Lines shown {in + "…フォルダ作成-T", tree.root().native() + "/near/d…元の場所に同名のものがあるため戻さない-T"};
    for (const char* f : {"/c", "/b", "/a"}) shown.push_back(in + f + "…元に戻せない(Input/output error)-T");
    Lines panes;  // each line is shown as it comes
    for (const auto& p : window.panes) panes.push_back(MaskTimes(p));
    EXPECT_EQ(Lines(panes.begin() + 2, panes.end() - 1), shown);
}

// The newest twenty journals are kept and nothing else in their folder goes; a run that cannot keep
// a journal goes on and says so once.
TEST_F(UndoTest, TwentyJournalsAreKeptAndARunThatCannotKeepOneSaysSoOnce)
{
    const stdfs::path folder = CliStateHome() / "sorvin";
    for (int i = 10; i < 30; ++i) tree.write(folder / ("20000101T0000" + std::to_string(i) + ".000000000Z.journal"), "sorvin journal 1\n");
    tree.write(folder / "0-notes", "mine");
    for (const char* f : {"in/a.txt", "in/b.txt", "in/c.txt"}) tree.write(f, f);
    ASSERT_EQ(RunCli({".", "in/a.txt"}, tree.root()).status, 0);
    EXPECT_EQ(ListTree(folder).size(), 21u);
    EXPECT_FALSE(stdfs::exists(folder / "20000101T000010.000000000Z.journal") || !stdfs::exists(folder / "0-notes"));

    tree.write("state", "a file where the folder should be");
    const CliOutcome run = RunCli({tree.mkdir("out").native(), "in"}, tree.root(), {"env", "XDG_STATE_HOME=" + (tree / "state").native()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"b.txt", "c.txt"}));
    EXPECT_TRUE(run.err.starts_with("sorvin: 記録ファイルに書き込めない")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

}  // namespace
}  // namespace sorvin::test
