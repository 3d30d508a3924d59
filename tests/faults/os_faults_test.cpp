// sorvin-cli against failures the operating system really gives: rights it lacks (a user's, a read-only
// file system's) and a full disk. Mounts made in a private mount namespace vanish with the test's process.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

class OsFaults : public ::testing::Test {
protected:
    std::string p(const std::string& rel) const { return (tree / rel).native(); }
    // sorvin-cli run in the tree has to stop with `message` and log `log` ("T" for times).
    void stops(const std::vector<std::string>& args, const std::string& message, const std::string& log,
               const std::vector<std::string>& prefix = {})
    {
        const CliOutcome o = RunCli(args, tree.root(), prefix);
        EXPECT_EQ(o.status, 1) << o.out << o.err;
        EXPECT_EQ(o.err, message + "\n");
        EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + log);
    }
    // Empty when a tmpfs was mounted at `rel`, else why not.
    std::string mountTmpfs(const std::string& rel, unsigned long flags = 0)
    {
        if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", tree.mkdir(rel).c_str(), "tmpfs", flags, "size=1m") != 0)
            return std::string("mounting refused: ") + std::strerror(errno);
        return {};
    }

    TempTree tree;
};

TEST_F(OsFaults, AFileInAFolderTheUserMayNotWriteStaysWhereItIs)
{
    const auto as = AsUnprivilegedUser();
    if (!as.empty() && std::system("setpriv --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "setpriv is missing";
    tree.write("locked/a.txt", Bytes(100, 1));
    for (const auto& [rel, mode] : {std::pair {"", 0755}, {"locked", 0555}, {"out", 0777}})
        ASSERT_EQ(chmod(tree.mkdir(rel).c_str(), static_cast<mode_t>(mode)), 0);
    stops({"out", "locked/a.txt"}, "Pelkor: ファイル書き込みエラーです。",
          p("locked/a.txt") + "\n" + p("locked/a.txt") + "…Move-T…処理中止\n", as);
    EXPECT_TRUE(ListTree(tree / "out").empty() && ReadFile(tree / "locked/a.txt") == Bytes(100, 1));
}

TEST_F(OsFaults, AFullDiskStopsTheMoveAndLeavesNothingHalfWritten)
{
    if (const std::string why = mountTmpfs("small"); !why.empty()) GTEST_SKIP() << why;
    tree.write("in/a.txt", Bytes(300u << 10, 9));
    tree.write("in/b.bin", Bytes(2u << 20, 10));
    const Contents before = ReadContents({tree / "in"});
    stops({"--keep-structure", "small", "in"}, "Pelkor: 移動が正常に終了しませんでした",
          p("small/in") + "…フォルダ作成-T\n" + p("in/a.txt") + "…Move-T\n" + p("in/b.bin") + "…処理中止\n");
    EXPECT_EQ(ListTree(tree / "small"), (std::vector<std::string> {"in/", "in/a.txt"}));
    EXPECT_EQ(Lost(before, ReadContents({tree / "in", tree / "small"})), std::vector<std::string> {});
}

// A disk that takes the writes but cannot write them back (ext4 through a loop device on a full
// tmpfs): the kernel tells of it once, so the whole batch fails and every source stays.
TEST_F(OsFaults, ADiskThatCannotWriteBackKeepsEverySource)
{
    const std::string img = p("back/img"), ext4 = "mkdir " + p("disk") + " && truncate -s 64M " + img + " && mkfs.ext4 -q -E lazy_itable_init=1,lazy_journal_init=1 " + img;
    if (!mountTmpfs("back").empty() || std::system(("{ " + ext4 + " && mount -o loop " + img + " " + p("disk") + "; } >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "no ext4 on a loop device on a tmpfs";
    for (const char* f : {"in/a.bin", "in/b.bin"}) tree.write(f, Bytes(2u << 20, 3));
    const Contents before = ReadContents({tree / "in"});
    EXPECT_EQ(RunCli({"disk", "in/a.bin", "in/b.bin"}, tree.root()).err, "Pelkor: 移動が正常に終了しませんでした\n");
    EXPECT_TRUE(ReadContents({tree / "in"}) == before);
}

TEST_F(OsFaults, AReadOnlyDestinationIsAWriteErrorAndKeepsTheSources)
{
    if (const std::string why = mountTmpfs("ro", MS_RDONLY); !why.empty()) GTEST_SKIP() << why;
    tree.write("in/f/x.txt", Bytes(200, 15));
    stops({"--keep-structure", "ro", "in/f"}, "sorvin: フォルダ書き込みエラー。", p("ro/f") + "…フォルダ作成-T…処理中止\n");
    EXPECT_EQ(ReadFile(tree / "in/f/x.txt"), Bytes(200, 15));
}

}  // namespace
}  // namespace sorvin::test
