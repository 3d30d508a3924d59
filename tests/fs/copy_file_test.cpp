#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "fs/posix_fs.h"
#include "support/at.h"
#include "support/temp_tree.h"

namespace sorvin::fs {
namespace {

using test::Bytes;
using test::ListTree;
using test::ReadFile;
using test::TempTree;

constexpr std::uint64_t kMiB = 1u << 20;
using Step = std::pair<std::uint64_t, std::uint64_t>;  // (total, transferred)

// The exit code of `body` run in a child process; a fault there cannot harm the test process.
template <class F>
int InChild(F body)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct stat Lstat(const Path& p)
{
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
    return st;
}

class CopyFileTest : public ::testing::Test {
protected:
    // Copies and returns the errno it fails with, or 0; progress calls are recorded.
    int copy(const Path& from, const Path& to, Durability durability = Durability::Normal)
    {
        steps.clear();
        try {
            seen = fs.copyFile(test::At(fs, from), test::At(fs, to), [this](std::uint64_t total, std::uint64_t done) {
                steps.emplace_back(total, done);
                if (static_cast<int>(steps.size()) == cancelAtStep) cancel = 1;
            }, &cancel, durability);
        } catch (const FsError& e) {
            return e.error();
        }
        return 0;
    }

    TempTree tree;
    PosixFs fs;
    std::vector<Step> steps;
    FileState seen;  // what the last copy saw of its source
    std::atomic<std::int32_t> cancel {0};
    int cancelAtStep = 0;
};

TEST_F(CopyFileTest, KeepsBytesModeAndTimesWithoutLeftovers)
{
    const timespec times[2] = {{1'000'000'000, 5}, {1'200'000'000, 123'456'789}};
    const std::pair<Durability, mode_t> cases[] = {{Durability::Normal, 0640}, {Durability::Synced, 04755}};
    for (const auto& [durability, mode] : cases) {
        const Path from = tree.write("in/a.bin", Bytes(3 * kMiB + 1, mode));
        ASSERT_EQ(chmod(from.c_str(), mode), 0);
        ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
        const Path to = tree.mkdir("out") / "a.bin";
        ASSERT_EQ(copy(from, to, durability), 0);
        EXPECT_EQ(ReadFile(to), ReadFile(from));
        EXPECT_EQ(Lstat(to).st_mode & 07777, mode);
        EXPECT_EQ(Lstat(to).st_mtim.tv_sec, times[1].tv_sec);
        EXPECT_EQ(Lstat(to).st_mtim.tv_nsec, times[1].tv_nsec);
        EXPECT_EQ(ListTree(tree / "out"), std::vector<std::string>{"a.bin"});
        std::filesystem::remove_all(tree / "out");
        // What the copy saw is what the source still is, until anything of it changes.
        EXPECT_TRUE(fs.unchangedSince(test::At(fs, from), seen));
        ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);  // moves its change time alone
        EXPECT_FALSE(fs.unchangedSince(test::At(fs, from), seen));
    }
    ASSERT_EQ(copy(tree.write("empty", ""), tree / "empty.copy"), 0);
    EXPECT_EQ(steps, (decltype(steps){{0, 0}}));
    EXPECT_EQ(ReadFile(tree / "empty.copy"), "");
}

TEST_F(CopyFileTest, CopiesLinksAsLinksNeverReplacesATargetAndRefusesFifos)
{
    const std::string target = "../elsewhere/x";
    ASSERT_EQ(symlink(target.c_str(), (tree / "in-link").c_str()), 0);
    ASSERT_EQ(copy(tree / "in-link", tree / "copy"), 0);
    EXPECT_EQ(std::filesystem::read_symlink(tree / "copy"), target);
    EXPECT_EQ(steps, (decltype(steps){{target.size(), 0}, {target.size(), target.size()}}));

    // Neither a file nor a link replaces what is there, even a dangling link.
    const Path to = tree.write("out/a", "keep");
    ASSERT_EQ(symlink("nowhere", (tree / "out/dangling").c_str()), 0);
    EXPECT_EQ(copy(tree.write("in/a", "new"), to), EEXIST);
    EXPECT_EQ(copy(tree / "in/a", tree / "out/dangling"), EEXIST);
    EXPECT_EQ(copy(tree / "in-link", to), EEXIST);
    EXPECT_EQ(ReadFile(to), "keep");
    EXPECT_EQ(ListTree(tree / "out"), (std::vector<std::string>{"a", "dangling"}));
    EXPECT_TRUE(S_ISLNK(Lstat(tree / "out/dangling").st_mode));

    ASSERT_EQ(mkfifo((tree / "fifo").c_str(), 0600), 0);
    alarm(10);  // a copy that opened the FIFO would block here
    EXPECT_EQ(copy(tree / "fifo", tree / "fifo.copy"), EINVAL);
    alarm(0);
    EXPECT_FALSE(std::filesystem::exists(tree / "fifo.copy"));
}

// In steps of at most 8 MiB, within one file system and across two; a stop at a step leaves nothing.
TEST_F(CopyFileTest, ReportsProgressInChunksOfAtMost8MiBAndAStopLeavesNothing)
{
    const std::string data = Bytes(20 * kMiB + 3);
    const Path from = tree.write("big", data);
    TempTree shm("/dev/shm");
    for (const Path& folder : {tree.mkdir("out"), test::HaveSecondFileSystem() ? shm.root() : tree.mkdir("out2")}) {
        SCOPED_TRACE(folder);
        cancelAtStep = cancel = 0;
        ASSERT_EQ(copy(from, folder / "big"), 0);
        ASSERT_GE(steps.size(), 4u);
        EXPECT_EQ(steps.front(), Step(data.size(), 0));
        EXPECT_EQ(steps.back(), Step(data.size(), data.size()));
        for (std::size_t i = 1; i < steps.size(); ++i) {
            EXPECT_EQ(steps[i].first, data.size());
            EXPECT_GT(steps[i].second, steps[i - 1].second);
            EXPECT_LE(steps[i].second - steps[i - 1].second, 8 * kMiB);
        }
        EXPECT_TRUE(ReadFile(folder / "big") == data);
        std::filesystem::remove(folder / "big");
        for (int step : {1, 2}) {
            cancelAtStep = step;
            cancel = 0;
            EXPECT_EQ(copy(from, folder / "big"), ECANCELED);
            EXPECT_EQ(static_cast<int>(steps.size()), step);
        }
        EXPECT_TRUE(ListTree(folder).empty());
    }
    cancel = 0;
    ASSERT_EQ(symlink("big", (tree / "in-link").c_str()), 0);
    EXPECT_EQ(copy(tree / "in-link", tree / "link"), ECANCELED);  // stopped at its last step, the link made is taken back
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tree / "link")));
}

TEST_F(CopyFileTest, ASweepRemovesOnlyTemporariesNoCopyIsWriting)
{
    tree.write("out/.a.txt.sorvin-AbC123.part", "left by a killed copy");
    const std::vector<std::string> kept = {".a.sorvin-AbC12.part", ".a.sorvin-AbC123.dup", "a.sorvin-AbC123.part",
                                           ".b.sorvin-AbC123.part.txt", ".c.sorvin-AbC123.part", ".d.sorvin-AbC123.part"};
    for (std::size_t k = 0; k + 2 < kept.size(); ++k) tree.write("out/" + kept[k], "x");
    const int writing = open(tree.write("out/" + kept[4], "being written").c_str(), O_RDONLY);
    ASSERT_EQ(flock(writing, LOCK_EX), 0);
    ASSERT_EQ(symlink("x", (tree / "out" / kept[5]).c_str()), 0);
    const FolderPtr out = fs.openPath(tree / "out");
    fs.removeLeftovers(*out);
    EXPECT_EQ(ListTree(tree / "out"), (std::vector<std::string>{kept[0], kept[1], kept[3], kept[4], kept[5], kept[2]}));
    close(writing);

    // A sweep at every step of a copy under way leaves its temporary alone.
    const std::string data = Bytes(20 * kMiB);
    const Path from = tree.write("in/big", data);
    fs.copyFile(test::At(fs, from), {*out, "big"}, [&](std::uint64_t, std::uint64_t) { fs.removeLeftovers(*out); }, &cancel,
                Durability::Normal);
    EXPECT_TRUE(ReadFile(tree / "out" / "big") == data);
}

// A full disk, made with a 1 MiB tmpfs in a mount namespace of a child, so nothing leaks.
TEST_F(CopyFileTest, FullDiskIsDiskFullAndLeavesOnlyTheSource)
{
    const Path from = tree.write("big", Bytes(2 * kMiB));
    const Path mnt = tree.mkdir("mnt");
    const int rc = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
            return 77;
        if (Classify(copy(from, mnt / "big")) != ErrorClass::DiskFull) return 1;
        if (!ListTree(mnt).empty()) return 2;
        std::ofstream(mnt / "inside").write(Bytes(600 * 1024).data(), 600 * 1024);  // same-fs copy
        if (Classify(copy(mnt / "inside", mnt / "copy")) != ErrorClass::DiskFull) return 3;
        return ListTree(mnt) == std::vector<std::string>{"inside"} ? 0 : 4;
    });
    if (rc == 77) GTEST_SKIP() << "cannot mount a small tmpfs here";
    EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace sorvin::fs
