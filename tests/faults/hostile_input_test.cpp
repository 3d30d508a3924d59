// sorvin-cli against hostile trees: one deeper than PATH_MAX, and a dropped folder swapped for a
// link mid-run. Every run has to end on its own and leave every byte of user data somewhere.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

TEST(HostileInput, ATreeDeeperThanPathMaxIsGatheredWholeAndLosesNothing)
{
    // 21 levels of 250-byte names, past PATH_MAX; a file at every fifth level.
    TempTree tree;
    const std::string make = "cd '" + tree.mkdir("in/deep").native() + "' && for d in $(seq 0 20); do [ $((d % 5)) != 0 ] || "
                             "echo f$d > f$d; n=$(printf %0250d $d); mkdir $n && cd -P $n || exit 1; done";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const Contents before = ReadContents({tree / "in"});
    // Where the hard limit is reached too, the folder's open fails as such, without trying again and again.
    EXPECT_EQ(RunCli({"--copy", "--keep-structure", tree.mkdir("out").native(), "in/deep"}, tree.root(), {"prlimit", "--nofile=24:24"},
                     std::chrono::seconds(30)).status, 1);
    stdfs::remove_all(tree / "out/deep");
    // A folder held open per level, two with the structure kept: past a soft limit of 24 descriptors, raised when reached.
    const CliOutcome o = RunCli({"--keep-structure", "out", "in/deep"}, tree.root(), {"prlimit", "--nofile=24:4096"});
    EXPECT_EQ(o.status, 0) << o.err;
    Contents expected;
    for (const auto& [path, bytes] : before) expected[(tree / "out").native() + path.substr((tree / "in").native().size())] = bytes;
    EXPECT_TRUE(expected.size() == 5u && ReadContents({tree / "in", tree / "out"}) == expected);
    EXPECT_FALSE(stdfs::exists(tree / "in/deep"));  // every emptied folder removed
}

TEST(HostileInput, ADroppedFolderSwappedForALinkMidRunLeavesTheOtherFolderAlone)
{
    // The moment the last file of top/a arrives, another program renames the dropped folder away
    // and puts a link to a folder holding the same names in its place.
    TempTree tree;
    const stdfs::path top = tree / "src/top", out = tree.mkdir("out");
    for (unsigned i = 0; i < 8; ++i) tree.write("src/top/a/big" + std::to_string(i), Bytes(4u << 20, i));
    for (unsigned i = 0; i < 1000; ++i)
        tree.write("src/top/b/small" + std::to_string(i), Bytes(100, 100 + i)), tree.write("victim/b/small" + std::to_string(i), Bytes(100, 1000 + i));
    const Contents before = ReadContents({top}), victim = ReadContents({tree / "victim"});
    const pid_t adversary = fork();
    if (adversary == 0) {
        while (access((out / "big7").c_str(), F_OK) != 0) continue;
        _exit(rename(top.c_str(), (tree / "src/away").c_str()) == 0 && symlink((tree / "victim").c_str(), top.c_str()) == 0 ? 0 : 1);
    }
    const CliOutcome o = RunCli({out.native(), top.native()}, tree.root());
    kill(adversary, SIGKILL);  // should the run have failed before emptying top/a
    int status = 0;
    waitpid(adversary, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the swap came too late";
    EXPECT_EQ(ReadContents({tree / "victim"}), victim);
    // Everything gathered; only the dropped folder's removal fails, its name being the link now.
    EXPECT_TRUE(o.status == 1 && o.err == "sorvin: No such file or directory\n") << o.err;
    EXPECT_TRUE(ListTree(out).size() == 1008u && Lost(before, ReadContents({out})).empty());
}

}  // namespace
}  // namespace sorvin::test
