// sorvin-cli end to end: the program as a user runs it.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

class CliTest : public ::testing::Test {
protected:
    CliOutcome run(const Lines& args) { return RunCli(args, tree.root()); }

    TempTree tree;
};

TEST_F(CliTest, OptionsRelativePathsTheLogOnStdoutAndMessagesOnStderr)
{
    tree.write("out/f/a.txt", "1");
    tree.write("in/a.txt", "a");
    tree.write("in/f/a.txt", "aa");
    CliOutcome o = run({"out", "in/a.txt", "./in/../in/f/"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const std::string root = tree.root().native();
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + root + "/in/a.txt…Move-T\n" + root + "/in/f/a_000.txt…Rename後Move-T\n" + root +
                                    "/in/f…フォルダ削除-T\n処理終了...T\n");
    tree.write("in/f/a.txt", "22");
    o = run({"--copy", "--keep-structure", "--serial-after-extension", "--crc32", "--check-all", "out", "in/f"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "a_000.txt", "f/", "f/a.txt", "f/a.txt_000"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"f/", "f/a.txt"}));

    // A failure: its message on stderr, a stopped run.
    ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
    o = run({"--copy", "--ignore-errors", "out", "pipe", "in/f/a.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Pelkor: コピーが正常に終了しませんでした\n");
    EXPECT_TRUE(o.out.ends_with("/pipe…処理中止\n")) << o.out;
}

TEST_F(CliTest, UsageErrorsAndAMissingDestinationExitWithTwoAndTouchNothing)
{
    tree.write("in/a.txt", "a");
    CliOutcome o = run({"missing", "in/a.txt"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "sorvin: 送り先フォルダが存在しません\n");
    EXPECT_EQ(o.out, "");
    for (const Lines& args : {Lines {"in/a.txt", "in/a.txt"}, Lines {"", "in/a.txt"}, Lines {"in"}, Lines {"--bogus", "in", "in"}})
        EXPECT_EQ(run(args).status, 2);
    o = run({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("--keep-structure"), std::string::npos);
    EXPECT_EQ(run({"--version"}).out, "sorvin-cli 0.4.2\n");
    EXPECT_TRUE(stdfs::exists(tree / "in/a.txt"));
}

TEST_F(CliTest, AnInterruptAbandonsTheCopyCleanlyAndEndsTheRunStopped)
{
    tree.mkdir("out");
    const std::string content = Bytes(400 * 1024 * 1024, 9);
    tree.write("big.bin", content);
    CliProcess cli({"--copy", "out", "big.bin"}, tree.root());
    // Wait until the copy is under way: its temporary file shows in the destination.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ListTree(tree / "out").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cli.signal(SIGINT);
    const CliOutcome o = cli.finish();
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_TRUE(o.out.ends_with(tree.root().native() + "/big.bin…処理中止\n")) << o.out;
    EXPECT_TRUE(ListTree(tree / "out").empty());
    EXPECT_EQ(stdfs::file_size(tree / "big.bin"), content.size());
}

}  // namespace
}  // namespace sorvin::test
