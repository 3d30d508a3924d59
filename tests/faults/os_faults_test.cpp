// sorvin-cli against failures the operating system really gives, one scenario per kind: rights it
// lacks (a user's, a read-only file system's), a full disk, a destination that vanishes. Mounts
// are made in a private mount namespace, so they vanish with the test's process.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

class OsFaults : public ::testing::Test {
protected:
    std::string p(const std::string& rel) const { return (tree / rel).native(); }

    // Runs sorvin-cli in the tree; it has to stop with `message` and log `log` ("T" for times).
    void expectStopped(const CliOutcome& o, const std::string& message, const std::string& log)
    {
        EXPECT_FALSE(o.timedOut);
        EXPECT_EQ(o.status, 1) << o.out << o.err;
        EXPECT_EQ(o.err, message + "\n");
        EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + log);
    }
    void stops(const std::vector<std::string>& args, const std::string& message, const std::string& log,
               const std::vector<std::string>& prefix = {})
    {
        expectStopped(RunCli(args, tree.root(), prefix), message, log);
    }
    // Empty when a tmpfs with `options` was mounted at `rel`, else why not.
    std::string mountTmpfs(const std::string& rel, const char* options, unsigned long flags = 0)
    {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", tree.mkdir(rel).c_str(), "tmpfs", flags, options) != 0)
            return std::string("mounting refused: ") + std::strerror(errno);
        return {};
    }

    TempTree tree;
};

TEST_F(OsFaults, WhatTheUserMayNotChangeStaysWhereItIsAndTheRunStops)
{
    const auto as = AsUnprivilegedUser();
    if (!as.empty() && std::system("setpriv --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is missing";
    tree.write("locked/a.txt", Bytes(100, 1));
    for (const auto& [rel, mode] : {std::pair {"", 0755}, {"locked", 0555}, {"out", 0777}})
        ASSERT_EQ(chmod(tree.mkdir(rel).c_str(), static_cast<mode_t>(mode)), 0);
    // A source folder the user may not write: its file cannot be taken out of it.
    stops({"out", "locked/a.txt"}, "Pelkor: ファイル書き込みエラーです。",
          p("locked/a.txt") + "\n" + p("locked/a.txt") + "…Move-T…処理中止\n", as);
    EXPECT_TRUE(ListTree(tree / "out").empty());
    EXPECT_EQ(ReadFile(tree / "locked/a.txt"), Bytes(100, 1));
}

TEST_F(OsFaults, AFullDiskStopsTheRunAndLeavesNothingHalfWritten)
{
    if (const std::string why = mountTmpfs("small", "size=1m"); !why.empty()) GTEST_SKIP() << why;
    tree.write("in/a.txt", Bytes(300u << 10, 9));
    tree.write("in/b.bin", Bytes(2u << 20, 10));
    const Contents before = ReadContents({tree / "in"});
    // A folder move across file systems: what went before the disk filled is whole, the rest stays.
    stops({"--keep-structure", "small", "in"}, "Pelkor: 移動が正常に終了しませんでした",
          p("small/in") + "…フォルダ作成-T\n" + p("in/a.txt") + "…Move-T\n" + p("in/b.bin") + "…処理中止\n");
    EXPECT_EQ(ListTree(tree / "small"), (std::vector<std::string> {"in/", "in/a.txt"}));
    EXPECT_EQ(Lost(before, ReadContents({tree / "in", tree / "small"})), std::vector<std::string> {});
}

TEST_F(OsFaults, AReadOnlyDestinationIsAWriteErrorAndKeepsTheSources)
{
    if (const std::string why = mountTmpfs("ro", "size=1m", MS_RDONLY); !why.empty()) GTEST_SKIP() << why;
    tree.write("in/f/x.txt", Bytes(200, 15));
    stops({"--keep-structure", "ro", "in/f"}, "sorvin: フォルダ書き込みエラー。", p("ro/f") + "…フォルダ作成-T…処理中止\n");
    EXPECT_EQ(ReadFile(tree / "in/f/x.txt"), Bytes(200, 15));
}

TEST_F(OsFaults, PathsThatVanishDuringTheRunStopItWithoutLoss)
{
    // The destination removed while a move across file systems copies into it: the source stays.
    if (const std::string why = mountTmpfs("mem", "size=256m"); !why.empty()) GTEST_SKIP() << why;
    std::string big;
    while (big.size() < (64u << 20)) big += Bytes(1u << 20, 19);
    const Contents sources {{p("mem/big.bin"), big}, {p("mem/after.txt"), Bytes(1300, 20)}};
    for (const auto& [path, bytes] : sources) tree.write(path, bytes);
    tree.mkdir("out");
    // Niced, so that the test and not the copy gets the processor first on a busy machine.
    CliProcess move({"out", p("mem/big.bin"), p("mem/after.txt")}, tree.root(), {"nice", "-n", "19"});
    bool paused = false;
    for (int i = 0; i < 600000 && !paused; ++i) {
        for (const auto& e : stdfs::directory_iterator(tree / "out"))
            paused = paused || e.path().native().ends_with(".part");
        if (!paused) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_TRUE(paused) << "the copy was not caught under way";
    move.signal(SIGSTOP);
    siginfo_t info {};
    waitid(P_PID, static_cast<id_t>(move.pid()), &info, WSTOPPED | WEXITED | WNOWAIT);
    ASSERT_EQ(info.si_code, CLD_STOPPED) << "the run ended before it was held";
    RemoveTree(tree / "out");
    move.signal(SIGCONT);
    expectStopped(move.finish(), "Pelkor: 移動が正常に終了しませんでした", p("mem/big.bin") + "…処理中止\n");
    EXPECT_FALSE(stdfs::exists(tree / "out"));
    EXPECT_EQ(ReadContents({tree / "mem"}), sources);
}

}  // namespace
}  // namespace sorvin::test
