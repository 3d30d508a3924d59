// sorvin-cli against failures the operating system really gives: rights it lacks, an immutable
// file, a full disk, a read-only file system, and paths that vanish while a run goes on. Mounts
// are made in a private mount namespace, so they vanish with the test's process.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

// Big enough that its copy is still under way when the test has seen it start.
constexpr std::size_t kBig = 64u << 20;

// A big file's bytes, cheap to make: one distinct mebibyte over and over.
std::string Big(unsigned seed)
{
    const std::string block = Bytes(1u << 20, seed);
    std::string bytes;
    bytes.reserve(kBig);
    while (bytes.size() < kBig) bytes += block;
    return bytes;
}

struct Outcome {
    int status;
    std::string err, log;  // the log with every time of day as "T"
};

// The paths whose bytes differ between two readings, or that only one of them has: short to show
// when a check fails, unlike the bytes themselves.
Lines Changed(const Contents& before, const Contents& after)
{
    Lines changed;
    for (const auto& [path, bytes] : before)
        if (const auto it = after.find(path); it == after.end() || it->second != bytes) changed.push_back(path);
    for (const auto& [path, bytes] : after)
        if (!before.contains(path)) changed.push_back(path);
    return changed;
}

// Every file as it was: no byte lost, nothing moved, nothing added.
void ExpectKept(const Contents& before, const Contents& after)
{
    EXPECT_EQ(Lost(before, after), Lines {});
    EXPECT_EQ(Changed(before, after), Lines {});
}

// Holds the run still while its copy into `folder` is under way, its temporary being there.
// False when the copy was not caught in the middle.
bool PauseWhileCopying(const CliProcess& cli, const stdfs::path& folder)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& e : stdfs::directory_iterator(folder, ec)) {
            if (!e.path().native().ends_with(".part")) continue;
            cli.signal(SIGSTOP);
            siginfo_t info {};
            waitid(P_PID, static_cast<id_t>(cli.pid()), &info, WSTOPPED | WEXITED | WNOWAIT);
            return info.si_code == CLD_STOPPED && stdfs::exists(e.path());
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

class OsFaults : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const auto& p : immutable_) SetImmutable(p, false);
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    }

    std::string p(const std::string& rel) const { return (tree / rel).native(); }

    static Outcome Finished(const CliOutcome& o)
    {
        EXPECT_FALSE(o.timedOut);
        return {o.status, o.err, MaskTimes(o.out)};
    }
    Outcome run(const Lines& args, const Lines& prefix = {}) { return Finished(RunCli(args, tree.root(), prefix)); }

    // A failure that stopped the run: one message, and the log as given.
    static void ExpectStopped(const Outcome& o, const std::string& message, const std::string& log)
    {
        EXPECT_EQ(o.status, 1) << o.log << o.err;
        EXPECT_EQ(o.err, message + "\n") << o.err;
        EXPECT_EQ(o.log, log) << o.log;
    }

    // Empty when the mount was made, else why not.
    std::string mountAt(const std::string& rel, const char* type, const char* source, unsigned long flags,
                        const char* options = nullptr)
    {
        if (!privateNamespace_) {
            if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return std::string("no private mount namespace: ") + std::strerror(errno);
            privateNamespace_ = true;
        }
        const stdfs::path at = tree.mkdir(rel);
        if (mount(source, at.c_str(), type, flags, options) != 0)
            return std::string("mount refused: ") + std::strerror(errno);
        mounts_.push_back(at);
        return {};
    }
    std::string mountTmpfs(const std::string& rel, const char* options, unsigned long flags = 0)
    {
        return mountAt(rel, "tmpfs", "none", flags, options);
    }

    TempTree tree;
    std::vector<stdfs::path> immutable_, mounts_;
    bool privateNamespace_ = false;
};

TEST_F(OsFaults, WhatTheUserMayNotChangeStaysWhereItIsAndTheRunStops)
{
    const Lines as = AsUnprivilegedUser();
    if (!as.empty() && std::system("setpriv --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "setpriv is missing: cannot run as an unprivileged user";
    tree.write("locked/a.txt", Bytes(100, 1));
    tree.write("locked/f/x.txt", Bytes(200, 2));
    tree.write("open/b.txt", Bytes(300, 3));
    tree.write("open/secret.txt", Bytes(400, 4));
    tree.mkdir("out");
    tree.mkdir("shut");
    const Contents before = ReadContents({tree.root()});
    for (const auto& [rel, mode] : std::vector<std::pair<std::string, mode_t>> {
             {"", 0755}, {"locked", 0555}, {"locked/f", 0555}, {"open", 0777}, {"out", 0777}, {"shut", 0555},
             {"open/secret.txt", 0}})
        ASSERT_EQ(chmod(p(rel).c_str(), mode), 0) << rel;

    // A source folder the user may not write: no file can be taken out of it.
    Outcome o = run({"out", "locked/a.txt", "open/b.txt"}, as);
    ExpectStopped(o, "Pelkor: ファイル書き込みエラーです。",
                  "処理開始...T\n" + p("locked/a.txt") + "\n" + p("locked/a.txt") + "…Move-T…処理中止\n");
    o = run({"out", "locked/f"}, as);
    ExpectStopped(o, "Pelkor: ファイル書き込みエラーです。",
                  "処理開始...T\n" + p("locked/f/x.txt") + "\n" + p("locked/f/x.txt") + "…Move-T…処理中止\n");

    // A destination the user may not write.
    o = run({"shut", "open/b.txt"}, as);
    ExpectStopped(o, "Pelkor: ファイル書き込みエラーです。",
                  "処理開始...T\n" + p("open/b.txt") + "\n" + p("open/b.txt") + "…Move-T…処理中止\n");
    o = run({"--copy", "shut", "open/b.txt"}, as);
    ExpectStopped(o, "Pelkor: コピーが正常に終了しませんでした", "処理開始...T\n" + p("open/b.txt") + "…処理中止\n");
    o = run({"--copy", "--keep-structure", "shut", "locked/f"}, as);
    ExpectStopped(o, "sorvin: フォルダ書き込みエラーです。", "処理開始...T\n" + p("shut/f") + "…フォルダ作成-T…処理中止\n");

    // A source file the user may not read.
    o = run({"--copy", "out", "open/secret.txt"}, as);
    ExpectStopped(o, "Pelkor: コピーが正常に終了しませんでした", "処理開始...T\n" + p("open/secret.txt") + "…処理中止\n");

    EXPECT_EQ(ListTree(tree / "out"), Lines {});
    EXPECT_EQ(ListTree(tree / "shut"), Lines {});
    chmod(p("open/secret.txt").c_str(), 0600);
    ExpectKept(before, ReadContents({tree.root()}));
}

TEST_F(OsFaults, AnImmutableFileIsNeitherMovedNorDeleted)
{
    if (geteuid() != 0) GTEST_SKIP() << "only root can make a file immutable";
    const stdfs::path file = tree.write("in/fixed.txt", Bytes(500, 5));
    tree.write("in/next.txt", Bytes(600, 6));
    tree.mkdir("out");
    const Contents before = ReadContents({tree.root()});
    if (!SetImmutable(file, true))
        GTEST_SKIP() << "the temp file system refuses the immutable flag: " << std::strerror(errno);
    immutable_.push_back(file);

    const std::string line = p("in/fixed.txt") + "\n" + p("in/fixed.txt") + "…Move-T…処理中止\n";
    Outcome o = run({"out", "in/fixed.txt", "in/next.txt"});
    ExpectStopped(o, "Pelkor: ファイル書き込みエラーです。", "処理開始...T\n" + line);
    ExpectKept(before, ReadContents({tree.root()}));

    // Across file systems the copy is made, and the source that cannot be deleted stays too.
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is on the temp folder's file system";
    TempTree other("/dev/shm");
    o = run({other.root().native(), "in/fixed.txt", "in/next.txt"});
    ExpectStopped(o, "Pelkor: ファイル書き込みエラーです。", "処理開始...T\n" + line);
    EXPECT_EQ(ListTree(other.root()), Lines {"fixed.txt"});
    EXPECT_TRUE(ReadFile(other / "fixed.txt") == Bytes(500, 5));
    ExpectKept(before, ReadContents({tree.root()}));
}

TEST_F(OsFaults, AFullDiskStopsTheRunAndLeavesNothingHalfWritten)
{
    if (const std::string why = mountTmpfs("small", "size=1m"); !why.empty()) GTEST_SKIP() << why;
    // Room for the root, one folder and one file: the next folder finds the disk full.
    if (const std::string why = mountTmpfs("few", "size=1m,nr_inodes=3"); !why.empty()) GTEST_SKIP() << why;
    tree.write("in/big.bin", Bytes(2u << 20, 7));
    tree.write("in/later.txt", Bytes(700, 8));
    tree.write("in/tree/a.txt", Bytes(300u << 10, 9));
    tree.write("in/tree/b.bin", Bytes(2u << 20, 10));
    tree.write("in/tree/sub/c.txt", Bytes(800, 11));
    tree.write("in/deep/x.txt", Bytes(900, 12));
    tree.write("in/deep/sub/y.txt", Bytes(1000, 13));
    const Contents before = ReadContents({tree / "in"});

    // The copy step reports the failure as its own, for a copy and a move alike.
    Outcome o = run({"--copy", "small", "in/big.bin", "in/later.txt"});
    ExpectStopped(o, "Pelkor: コピーが正常に終了しませんでした", "処理開始...T\n" + p("in/big.bin") + "…処理中止\n");
    EXPECT_EQ(ListTree(tree / "small"), Lines {});
    o = run({"small", "in/big.bin", "in/later.txt"});
    ExpectStopped(o, "Pelkor: 移動が正常に終了しませんでした", "処理開始...T\n" + p("in/big.bin") + "…処理中止\n");
    EXPECT_EQ(ListTree(tree / "small"), Lines {});

    o = run({"--copy", "--keep-structure", "small", "in/tree"});
    ExpectStopped(o, "Pelkor: コピーが正常に終了しませんでした",
                  "処理開始...T\n" + p("small/tree") + "…フォルダ作成-T\n" + p("in/tree/a.txt") + "…Copy-T\n" +
                      p("in/tree/b.bin") + "…処理中止\n");
    EXPECT_EQ(ListTree(tree / "small"), (Lines {"tree/", "tree/a.txt"}));
    EXPECT_TRUE(ReadFile(tree / "small/tree/a.txt") == Bytes(300u << 10, 9));

    o = run({"--copy", "--keep-structure", "few", "in/deep"});
    ExpectStopped(o, "sorvin: 書き込み先の容量不足です。",
                  "処理開始...T\n" + p("few/deep") + "…フォルダ作成-T\n" + p("in/deep/x.txt") + "…Copy-T\n" +
                      p("few/deep/sub") + "…フォルダ作成-T…処理中止\n");
    EXPECT_EQ(ListTree(tree / "few"), (Lines {"deep/", "deep/x.txt"}));
    ExpectKept(before, ReadContents({tree / "in"}));

    // A folder move: what went before the disk filled is whole in the destination, the rest stays.
    RemoveTree(tree / "small/tree");
    o = run({"--keep-structure", "small", "in/tree"});
    ExpectStopped(o, "Pelkor: 移動が正常に終了しませんでした",
                  "処理開始...T\n" + p("small/tree") + "…フォルダ作成-T\n" + p("in/tree/a.txt") + "…Move-T\n" +
                      p("in/tree/b.bin") + "…処理中止\n");
    EXPECT_EQ(ListTree(tree / "small"), (Lines {"tree/", "tree/a.txt"}));
    EXPECT_EQ(Lost(before, ReadContents({tree / "in", tree / "small"})), Lines {});
}

TEST_F(OsFaults, AReadOnlyDestinationIsAWriteErrorAndKeepsTheSources)
{
    if (const std::string why = mountTmpfs("ro", "size=1m", MS_RDONLY); !why.empty()) GTEST_SKIP() << why;
    // A read-only view of a folder on the sources' own file system: a rename there is refused too.
    tree.mkdir("target");
    if (const std::string why = mountAt("view", nullptr, p("target").c_str(), MS_BIND); !why.empty()) GTEST_SKIP() << why;
    if (const std::string why = mountAt("view", nullptr, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY); !why.empty())
        GTEST_SKIP() << why;
    tree.write("in/a.txt", Bytes(100, 14));
    tree.write("in/f/x.txt", Bytes(200, 15));
    const Contents before = ReadContents({tree / "in"});

    Outcome o = run({"--copy", "ro", "in/a.txt"});
    ExpectStopped(o, "Pelkor: コピーが正常に終了しませんでした", "処理開始...T\n" + p("in/a.txt") + "…処理中止\n");
    o = run({"ro", "in/a.txt"});
    ExpectStopped(o, "Pelkor: 移動が正常に終了しませんでした", "処理開始...T\n" + p("in/a.txt") + "…処理中止\n");
    o = run({"--keep-structure", "ro", "in/f"});
    ExpectStopped(o, "sorvin: フォルダ書き込みエラー。", "処理開始...T\n" + p("ro/f") + "…フォルダ作成-T…処理中止\n");
    o = run({"view", "in/a.txt"});
    ExpectStopped(o, "Pelkor: 移動が正常に終了しませんでした", "処理開始...T\n" + p("in/a.txt") + "…処理中止\n");

    EXPECT_EQ(ListTree(tree / "ro"), Lines {});
    EXPECT_EQ(ListTree(tree / "target"), Lines {});
    ExpectKept(before, ReadContents({tree / "in"}));
}

TEST_F(OsFaults, PathsThatVanishDuringTheRunStopItWithoutLoss)
{
    tree.write("in/big.bin", Big(16));
    tree.write("in/gone.txt", Bytes(1100, 17));
    tree.write("in/later.txt", Bytes(1200, 18));
    tree.mkdir("out");
    const Contents before = ReadContents({tree / "in"});
    // On a busy machine the test, not the copy, should get the processor first.
    const Lines niced {"nice", "-n", "19"};

    // A dropped file deleted before its turn: the run takes it for a folder that is not there.
    CliProcess copy({"--copy", "out", "in/big.bin", "in/gone.txt", "in/later.txt"}, tree.root(), niced);
    ASSERT_TRUE(PauseWhileCopying(copy, tree / "out")) << "the copy was not caught under way";
    stdfs::remove(tree / "in/gone.txt");
    copy.signal(SIGCONT);
    ExpectStopped(Finished(copy.finish()), "sorvin: No such file or directory", "処理開始...T\n" + p("in/big.bin") + "…Copy-T…処理中止\n");
    EXPECT_EQ(ListTree(tree / "out"), Lines {"big.bin"});
    EXPECT_EQ(Lost(before, ReadContents({tree / "in", tree / "out"})), Lines {p("in/gone.txt")});

    // The destination removed while a move across file systems copies into it: the source stays.
    stdfs::path source;
    std::optional<TempTree> shm;
    struct statvfs room {};
    if (mountTmpfs("mem", "size=1g").empty()) {
        source = tree / "mem";
    } else if (HaveSecondFileSystem() && statvfs("/dev/shm", &room) == 0 && room.f_bavail * room.f_frsize > 2 * kBig) {
        source = shm.emplace("/dev/shm").root();
    } else {
        GTEST_SKIP() << "no second file system with room for the move";
    }
    const stdfs::path moving = source / "big.bin";
    Contents left {{moving.native(), Big(19)}, {(source / "after.txt").native(), Bytes(1300, 20)}};
    for (const auto& [path, bytes] : left) tree.write(path, bytes);
    tree.mkdir("out2");
    CliProcess move({"out2", moving.native(), (source / "after.txt").native()}, tree.root(), niced);
    ASSERT_TRUE(PauseWhileCopying(move, tree / "out2")) << "the copy was not caught under way";
    RemoveTree(tree / "out2");
    move.signal(SIGCONT);
    ExpectStopped(Finished(move.finish()), "Pelkor: 移動が正常に終了しませんでした", "処理開始...T\n" + moving.native() + "…処理中止\n");
    EXPECT_FALSE(stdfs::exists(tree / "out2"));
    ExpectKept(left, ReadContents({source}));
}

}  // namespace
}  // namespace sorvin::test
