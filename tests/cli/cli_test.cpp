// sorvin-cli end to end: the program as a user runs it.
#include <signal.h>
#include <sys/stat.h>

#include <thread>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

TEST(CliTest, OptionsExitStatusesTheLogOnStdoutAndMessagesOnStderr)
{
    TempTree tree;
    const auto run = [&](const Lines& args) { return RunCli(args, tree.root()); };
    for (auto [f, bytes] : {std::pair {"out/f/a.txt", "1"}, {"in/a.txt", "a"}, {"in/f/a.txt", "aa"}}) tree.write(f, bytes);
    CliOutcome o = run({"out", "in/a.txt", "./in/../in/f/"});
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string root = tree.root().native();
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + root + "/in/a.txt…Move-T\n" + root + "/in/f/a_000.txt…Rename後Move-T\n" + root +
                                    "/in/f…フォルダ削除-T\n処理終了...T\n");
    tree.write("in/f/a.txt", "22");
    o = run({"--copy", "--keep-structure", "--serial-after-extension", "--crc32", "--check-all", "out", "in/f"});
    EXPECT_EQ(ListTree(tree.root()), (Lines {"in/", "in/f/", "in/f/a.txt", "out/", "out/a.txt", "out/a_000.txt", "out/f/", "out/f/a.txt", "out/f/a.txt_000"}));

    ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
    o = run({"--copy", "--ignore-errors", "out", "pipe", "in/f/a.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Pelkor: コピーが正常に終了しませんでした\n");
    EXPECT_TRUE(o.out.ends_with("/pipe…処理中止\n")) << o.out;

    EXPECT_EQ(run({"missing", "in/f/a.txt"}).err, "sorvin: 送り先フォルダが存在しません\n");
    for (const Lines& args : {Lines {"missing", "in/f/a.txt"}, Lines {"", "in/f/a.txt"}, Lines {"in"}, Lines {"--bogus", "in", "in"},
                              Lines {"--undo", "in"}, Lines {"--undo", "--copy"}})
        EXPECT_EQ(run(args).status, 2);
    EXPECT_EQ(run({"--version"}).out, "sorvin-cli 0.4.2\n");
    EXPECT_TRUE(stdfs::exists(tree / "in/f/a.txt"));

    // An interrupt abandons the copy under way: no part of it is left, the run ends stopped.
    tree.write("big.bin", Bytes(400 << 20, 9));
    const Lines before = ListTree(tree / "out");
    CliProcess cli({"--copy", "out", "big.bin"}, tree.root());
    for (int ms = 0; ms < 20000 && ListTree(tree / "out") == before; ++ms)  // until its temporary shows
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cli.signal(SIGINT);
    o = cli.finish();
    EXPECT_TRUE(o.status == 1 && o.out.ends_with(root + "/big.bin…処理中止\n")) << o.out << o.err;
    EXPECT_EQ(ListTree(tree / "out"), before);
}

}  // namespace
}  // namespace sorvin::test
