// sorvin-cli against hostile input: odd names and names at the limit, a tree deeper than PATH_MAX,
// a link where a kept folder goes, and a dropped folder swapped for a link mid-run. Every run has
// to end on its own, say plainly what it could not do, and leave every byte of user data somewhere.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

class HostileInputTest : public ::testing::Test {
protected:
    // A run that hangs or crashes fails the test here.
    CliOutcome run(const Lines& args, const Lines& prefix = {})
    {
        CliOutcome o = RunCli(args, tree.root(), prefix, std::chrono::seconds(60));
        EXPECT_FALSE(o.timedOut || o.signal) << o.err;
        return o;
    }
    std::string p(const std::string& rel) const { return (tree / rel).native(); }
    TempTree tree;
};

TEST_F(HostileInputTest, ANameTooLongForItsSerialIsRefusedAndStaysWhereItWas)
{
    const std::string longA = std::string(251, 'a') + ".txt";
    tree.write("out/" + longA, Bytes(3, 1));
    tree.write("in/" + longA, Bytes(8, 2));
    const Contents before = ReadContents({tree.root()});
    // 255 bytes fit; the serial-numbered a_000 would not, and must not be cut to fit.
    const CliOutcome o = run({"out", "in/" + longA});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Pelkor: File name too long\n");
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + p("in/" + longA) + "…処理中止\n");
    EXPECT_EQ(ReadContents({tree.root()}), before);  // no temporary left behind
}

TEST_F(HostileInputTest, OddNamesAreGatheredNumberedAndLoggedAsTheyAre)
{
    // Each odd name is taken in the destination; after "--" none is read as an option.
    const Lines odd {"--copy", "-x.txt", ".hidden", "line\nbreak.txt", "\xff\xfe.txt"};
    const Lines serial {"--copy_000", "-x_000.txt", "_000.hidden", "line\nbreak_000.txt", "\xff\xfe_000.txt"};
    Lines args {"--", "../out"};
    for (const auto& name : odd) tree.write("out/" + name, "old " + name), tree.write("in/" + name, "new " + name);
    for (const auto& name : odd) args.push_back(name);
    const CliOutcome o = RunCli(args, tree / "in");
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string log = MaskTimes(o.out);
    EXPECT_NE(log.find(p("in/line\nbreak_000.txt") + "…Rename後Move-T\n"), std::string::npos) << log;
    EXPECT_NE(log.find(p("in/") + "\xEF\xBF\xBD\xEF\xBF\xBD_000.txt…Rename後Move-T\n"), std::string::npos) << log;
    const Contents after = ReadContents({tree / "out"});
    EXPECT_EQ(after.size(), 2 * odd.size());
    for (std::size_t i = 0; i < odd.size(); ++i) EXPECT_EQ(after.at(p("out/" + serial[i])), "new " + odd[i]);
    EXPECT_TRUE(ListTree(tree / "in").empty());
}

TEST_F(HostileInputTest, ATreeDeeperThanPathMaxIsGatheredWholeAndLosesNothing)
{
    // 20 levels of 250-byte names, made relative to open handles; a file at every fifth level.
    Lines files;
    std::string rel = "deep";
    int fd = open(tree.mkdir("in/deep").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int depth = 0; depth <= 20; ++depth) {
        if (depth % 5 == 0) {
            const std::string name = "f" + std::to_string(depth);
            const int f = openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ASSERT_EQ(write(f, name.data(), name.size()), static_cast<ssize_t>(name.size()));
            close(f);
            files.push_back(rel + "/" + name);
        }
        const std::string name(250, static_cast<char>('a' + depth));
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = sub;
        rel += "/" + name;
    }
    close(fd);
    tree.mkdir("out");
    const Contents before = ReadContents({tree / "in"});
    // A folder held open per level, two with the structure kept: past a soft limit of 24
    // descriptors, which is raised when reached.
    const CliOutcome o = run({"--keep-structure", "out", "in/deep"}, {"prlimit", "--nofile=24:4096"});
    EXPECT_EQ(o.status, 0) << o.err;
    const Contents after = ReadContents({tree / "in", tree / "out"});
    EXPECT_EQ(Lost(before, after), Lines {});
    for (const std::string& file : files) EXPECT_TRUE(after.contains(p("out/" + file))) << file.size();
    EXPECT_FALSE(stdfs::exists(tree / "in/deep"));  // every emptied folder removed
}

TEST_F(HostileInputTest, AKeptFolderIsNeverMadeThroughALinkInItsPlace)
{
    tree.mkdir("out");
    tree.write("elsewhere/kept.txt", "kept");
    tree.write("q/A/B/z.txt", "z");
    tree.mkdir("p/A");
    stdfs::create_directory_symlink(tree / "elsewhere", tree / "p/A/B");
    const Contents before = ReadContents({tree.root()});
    // p/A/B lands as the link out/A/B; q/A/B's files must not pour through it into "elsewhere".
    const CliOutcome o = run({"--keep-structure", "out", "p/A", "q/A"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "sorvin: File exists\n");
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + p("out/A") + "…フォルダ作成-T\n" + p("p/A/B") + "…Move-T\n" + p("p/A") +
                                    "…フォルダ削除-T\n" + p("out/A/B") + "…フォルダ作成-T…処理中止\n");
    EXPECT_EQ(ListTree(tree / "elsewhere"), Lines {"kept.txt"});
    EXPECT_EQ(Lost(before, ReadContents({tree.root()})), Lines {});
}

TEST_F(HostileInputTest, ADroppedFolderSwappedForALinkMidRunLeavesTheOtherFolderAlone)
{
    // The moment the last file of top/a arrives, another program renames the dropped folder away
    // and puts a link to a folder holding the same names in its place.
    const stdfs::path top = tree / "src/top", out = tree.mkdir("out");
    for (unsigned i = 0; i < 8; ++i) tree.write("src/top/a/big" + std::to_string(i), Bytes(4u << 20, i));
    for (unsigned i = 0; i < 1000; ++i) {
        tree.write("src/top/b/small" + std::to_string(i), Bytes(100, 100 + i));
        tree.write("victim/b/small" + std::to_string(i), Bytes(100, 1000 + i));
    }
    const Contents before = ReadContents({top}), victim = ReadContents({tree / "victim"});
    const pid_t adversary = fork();
    if (adversary == 0) {
        while (access((out / "big7").c_str(), F_OK) != 0) {
        }
        if (rename(top.c_str(), p("src/away").c_str()) != 0) _exit(1);
        _exit(symlink(p("victim").c_str(), top.c_str()) == 0 ? 0 : 1);
    }
    const CliOutcome o = run({out.native(), top.native()});
    kill(adversary, SIGKILL);  // should the run have failed before emptying top/a
    int status = 0;
    waitpid(adversary, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the swap came too late";
    EXPECT_EQ(ReadContents({tree / "victim"}), victim);
    // Everything gathered; only the dropped folder's removal fails, its name being the link now.
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "sorvin: No such file or directory\n");
    EXPECT_EQ(ListTree(out).size(), 1008u);
    EXPECT_EQ(Lost(before, ReadContents({out})), Lines {});
}

}  // namespace
}  // namespace sorvin::test
