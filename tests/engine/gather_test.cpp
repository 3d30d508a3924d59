// The gathering operations over a real temporary tree, failures made by the fault-injecting file
// system. One scenario per behaviour; every failure path is a row of one table.
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

#include "engine/naming.h"
#include "shared/text.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

TEST(Naming, SerialNamesTheSerialTableAndDisplayText)
{
    const char* rows[][5] = {{"a", "txt", "12", "a_012.txt", "a.txt_012"}, {"a", "txt", "1000", "a_1000.txt", "a.txt_1000"},
                             {"README", "", "0", "README_000", "README._000"}, {"", "bashrc", "7", "_007.bashrc", ".bashrc_007"}};
    for (auto& r : rows) {
        EXPECT_EQ(SerialName(r[0], r[1], std::stoi(r[2]), false), r[3]);
        EXPECT_EQ(SerialName(r[0], r[1], std::stoi(r[2]), true), r[4]);
    }
    SerialTable table;
    EXPECT_EQ(table.next("a.txt"), 0);
    EXPECT_EQ(table.next("A.TXT"), 0);
    EXPECT_EQ(table.next("a.txt"), 1);
    for (int i = 2; i < 32767; ++i) table.next("a.txt");
    EXPECT_EQ(table.next("a.txt"), 32767);
    EXPECT_THROW(table.next("a.txt"), std::overflow_error);
    table.reset();
    EXPECT_EQ(table.next("a.txt"), 0);
    EXPECT_EQ(DisplayText("/in/写真\xF0\x9F\x93\xB7"), "/in/写真\xF0\x9F\x93\xB7");
    EXPECT_EQ(DisplayText("a\xFF\xC3"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(DisplayText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
}

class GatherFileTest : public GatherTest {};

TEST_F(GatherFileTest, MovesNameCollisionsAndDuplicates)
{
    tree.write("in/a.txt", "hello");
    tree.write("out/b.txt", "other size");
    tree.write("in/b.txt", "bbb");
    tree.write("in/x/b.txt", "ccc");  // the size of out/b_000.txt, other bytes
    tree.write("in/y/a.txt", "hello");  // a duplicate: deleted
    tree.mkdir("out/c.txt");          // a folder is never replaced
    tree.write("in/c.txt", "c");
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(MaskTimes(window.pane()), in("a.txt") + "…Move-T");
    EXPECT_EQ(window.caption(), "a.txt");
    for (const char* f : {"b.txt", "x/b.txt", "y/a.txt", "c.txt"}) engine.FileMove2(in(f), dst());
    EXPECT_EQ(window.panes[window.panes.size() - 2], in("y/a.txt") + "…Delete");  // the time only in the log
    EXPECT_EQ(logLines(), (Lines {in("a.txt") + "…Move-T", in("b_000.txt") + "…Rename後Move-T",
                                  in("x/b_001.txt") + "…Rename後Move-T", in("y/a.txt") + "…Delete-T",
                                  in("c_000.txt") + "…Rename後Move-T"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"x/", "y/"}));
    EXPECT_EQ(ReadFile(tree / "out/b_001.txt"), "ccc");

    // A new count meets b_000 and b_001 before b_002; with every name checked, walks start at 000;
    // the serial may go after the extension.
    run.NameTable.reset();
    tree.write("in/b.txt", "dddd");
    engine.FileMove2(in("b.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/b_002.txt"), "dddd");
    window.set(MenuOption::Genmitsu);
    tree.write("in/b.txt", "bbb");
    engine.FileMove2(in("b.txt"), dst());
    EXPECT_EQ(logLines().back(), in("b_000.txt") + "…Delete-T");
    window.set(MenuOption::NumPosition);
    tree.write("in/b.txt", "eeeee");
    engine.FileMove2(in("b.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/b.txt_000"), "eeeee");
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(GatherFileTest, TheSameFileIsNeverItsOwnDuplicate)
{
    tree.write("in/a.txt", "x");
    stdfs::create_directory_symlink(tree / "in", tree / "link");
    for (const std::string& d : {tree.folder("in"), tree.folder("link"), tree.folder("out/../in")}) engine.FileMove2(in("a.txt"), d);
    EXPECT_EQ(logLines(), Lines(3, in("a.txt") + "…移動元と移動先が同じ-T"));

    // A hard link is a true duplicate; a link back to the source, or any link, is not.
    ASSERT_EQ(link(in("a.txt").c_str(), (tree / "out/a.txt").c_str()), 0);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_FALSE(stdfs::exists(in("a.txt")));
    tree.write("in/b.txt", std::string(in("b.txt").size(), 'b'));
    stdfs::create_symlink(in("b.txt"), tree / "out/b.txt");
    tree.write("in/c.txt", "/nowhere");
    stdfs::create_symlink("/nowhere", tree / "out/c.txt");
    engine.FileMove2(in("b.txt"), dst());
    engine.FileMove2(in("c.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/b_000.txt"), std::string(in("b.txt").size(), 'b'));
    EXPECT_EQ(ReadFile(tree / "out/c_000.txt"), "/nowhere");

    // A copy takes equal size for the same file, or with the option an equal checksum too.
    tree.write("out/d.bin", Bytes(3 << 20, 1));
    tree.write("in/d.bin", Bytes(3 << 20, 2));
    engine.FileCopy2(in("d.bin"), dst());
    EXPECT_EQ(logLines().back(), in("d.bin") + "…同一ファイルあり-T");
    window.set(MenuOption::Crc32);
    window.captions.clear();
    engine.FileCopy2(in("d.bin"), dst());
    EXPECT_EQ(ReadFile(tree / "out/d_000.bin"), Bytes(3 << 20, 2));
    EXPECT_EQ(window.captions[0], "Src-d.bin 33% CRC Checking1048576");
    EXPECT_EQ(window.captions[3], "Dst-d.bin 66% CRC Checking2097152");
    window.set(MenuOption::Genmitsu);
    engine.FileCopy2(in("d.bin"), dst());
    EXPECT_EQ(logLines().back(), in("d_000.bin") + "…同一ファイルあり-T");
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "b.txt", "b_000.txt", "c.txt", "c_000.txt", "d.bin", "d_000.bin"}));
}

TEST_F(GatherFileTest, AStopTouchesNothingMoreAndEndsTheLogLine)
{
    tree.write("out/big.bin", Bytes(3 << 20));
    tree.write("in/big.bin", Bytes(3 << 20));
    stopAtYield(2);  // the operation's own yield, then the compare's first 1 MiB
    engine.FileMove2(in("big.bin"), dst());
    EXPECT_EQ(window.caption(), "Dst-big.bin 33% Compare Checking1048576");
    EXPECT_TRUE(stdfs::exists(in("big.bin")));
    EXPECT_TRUE(run.stopped());
    EXPECT_EQ(logLines(), (Lines {""}));

    // Mid-copy: no copy, no temporary, the path on the line the stop ended.
    run.start();
    CancelFlag = 0;
    window.yields = 0;
    tree.write("in/huge.bin", Bytes(20 << 20));
    stopAtYield(3);  // the operation's own yield, the copy's start, its first chunk
    engine.FileCopy2(in("huge.bin"), dst());
    EXPECT_EQ(run.logText(), "\n" + in("huge.bin"));
    EXPECT_EQ(window.pane(), in("huge.bin"));
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"big.bin"}));
    engine.FileCopy2(in("huge.bin"), dst());  // stopped already: nothing is touched
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"big.bin"}));
    EXPECT_TRUE(window.messages.empty());
}

// Every failure path: where it is made, what the user is told, what the log and the flag say.
TEST_F(GatherFileTest, FailuresByClassSideAndOperation)
{
    enum Op { FileMove, FileCopy, FolderMove, FolderCopy };
    struct Row {
        Op op;
        Call call;
        int err;
        bool ignore, keep;
        std::string message;  // "" when none
        MessageTitle title;
        bool stops;
        Lines log;  // "<a>": the file's path; "<a>+": its move line; else a path under the tree
    };
    const auto pelkor = MessageTitle::Pelkor, app = MessageTitle::Application;
    const Row rows[] = {
        {FileMove, Call::RenameNoReplace, EACCES, false, false, "ファイル書き込みエラーです。", pelkor, true, {"<a>", "<a>+"}},
        {FileMove, Call::RenameNoReplace, ENOSPC, true, false, "書き込み先の容量不足です。", pelkor, true, {"<a>", "<a>+"}},
        {FileMove, Call::RenameNoReplace, ENOENT, false, false, "指定されたパスが見つかりません。", pelkor, true, {"<a>", "<a>+"}},
        {FileMove, Call::RenameNoReplace, EIO, false, false, "Input/output error", pelkor, true, {"<a>"}},
        {FileMove, Call::RenameNoReplace, EIO, true, false, "", pelkor, false, {"<a>+"}},
        {FileMove, Call::RenameNoReplace, EEXIST, false, false, "", pelkor, false, {"in/a_000.txt…Rename後Move-T"}},
        {FileMove, Call::FileSize, EACCES, false, false, "ファイル書き込みエラーです。", pelkor, true, {"<a>"}},
        {FileMove, Call::FileSize, EIO, true, false, "", pelkor, false, {}},  // the file stays where it is
        {FileMove, Call::OpenPath, EIO, false, false, "Input/output error", pelkor, true, {"<a>"}},
        {FileCopy, Call::CopyFile, ENOSPC, false, false, "コピーが正常に終了しませんでした", pelkor, true, {"<a>"}},
        {FolderMove, Call::OpenPath, ENOENT, false, false, "No such file or directory", app, true, {}},
        {FolderMove, Call::OpenPath, ENOENT, true, false, "", app, false, {}},
        {FolderMove, Call::RemoveEmptyFolder, EACCES, false, false, "フォルダ書き込みエラー。", app, true, {"<a>+", "in/f…フォルダ削除-T"}},
        {FolderMove, Call::FolderIsEmpty, EIO, false, false, "Input/output error", app, true, {"<a>+"}},
        {FolderCopy, Call::CreateFolder, EACCES, false, true, "フォルダ書き込みエラーです。", app, true, {"out/f…フォルダ作成-T"}},
        {FolderCopy, Call::CreateFolder, ENOSPC, false, true, "書き込み先の容量不足です。", app, true, {"out/f…フォルダ作成-T"}},
        {FolderCopy, Call::CreateFolder, EIO, true, true, "", app, false, {"out/f…フォルダ作成-T"}},
        {FolderCopy, Call::List, EIO, false, false, "Input/output error", app, true, {}},
        {FolderCopy, Call::OpenFolder, EIO, false, false, "Input/output error", app, true, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << (&r - rows));
        RemoveTree(tree / "in");
        RemoveTree(tree / "out");
        tree.mkdir("out");
        const bool file = r.op == FileMove || r.op == FileCopy;
        const std::string a = file ? in("a.txt") : in("f/a.txt");
        tree.write(file ? "in/a.txt" : "in/f/a.txt", "x");
        if (r.call == Call::FileSize) tree.write("out/a.txt", "yy");
        CancelFlag = 0;
        run.start();
        window.messages.clear();
        window.keep = r.keep;
        window.set(MenuOption::ErrMushi, r.ignore);
        fs.clearFaults();
        const FaultInjectingFs::Match where = r.call == Call::OpenPath ? EndsWith("/in") : nullptr;
        fs.failOn(r.call, r.err, where, 0, r.ignore ? -1 : 1);
        switch (r.op) {
        case FileMove: engine.FileMove2(a, dst()); break;
        case FileCopy: engine.FileCopy2(a, dst()); break;
        case FolderMove: engine.FolderMove2(in("f"), dst()); break;
        case FolderCopy: engine.FolderCopy2(in("f"), dst()); break;
        }
        Lines expected;
        for (const std::string& line : r.log)
            expected.push_back(line == "<a>" ? a : line == "<a>+" ? a + "…Move-T" : (tree / line).native());
        EXPECT_EQ(logLines(), expected);
        if (r.message.empty()) {
            EXPECT_TRUE(window.messages.empty());
        } else {
            ASSERT_EQ(window.messageTexts(), Lines {r.message});
            EXPECT_EQ(window.messages[0].title, r.title);
            EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
        }
        EXPECT_EQ(CancelFlag.load() != 0, r.stops);
    }
    EXPECT_EQ(fs.calls(Call::CreateFolder), 3);  // an ignored failure is not retried without end
}

TEST_F(GatherFileTest, AcrossFileSystemsTheSourceGoesOnlyWithItsDurableBatch)
{
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is not a second file system";
    TempTree shm("/dev/shm");
    auto moveAll = [&](const Lines& names) {
        for (const auto& n : names) tree.write("in/" + n, n + n);
        for (const auto& n : names) engine.FileMove2(in(n), shm.folder(""));
    };
    moveAll({"a"});
    EXPECT_TRUE(stdfs::exists(in("a")));  // waits for its batch, and so does its line
    EXPECT_TRUE(logLines().empty());
    engine.closeBatch();
    EXPECT_FALSE(stdfs::exists(in("a")));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…Move-T"}));
    EXPECT_EQ(window.captions.back(), "a 100% complete...");

    // The stop, pressed while c is copied, finishes the batch of a and b first.
    stdfs::remove(shm / "a");
    run.start();
    window.yields = 0;
    stopAtYield(8);
    moveAll({"a", "b", "c"});
    EXPECT_EQ(ListTree(shm.root()), (Lines {"a", "b"}));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…Move-T", in("b") + "…Move-T", in("c")}));

    // b's copy cannot be made durable, or is written to after its copy: a's move finishes, b's
    // copy goes, c's move is undone.
    for (int round = 0; round < 2; ++round) {
        window.onYield = {};
        CancelFlag = 0;
        run.start();
        window.messages.clear();
        for (const char* n : {"a", "b", "c"}) stdfs::remove(shm / n);
        fs.clearFaults();
        if (round == 0) fs.failOn(Call::MakeDurable, EIO, EndsWith("/b"), 0, -1);
        else fs.before(Call::MakeDurable, [&] { tree.write("in/b", "bb+"); });
        moveAll({"a", "b", "c"});
        EXPECT_EQ(ListTree(tree / "in"), (Lines {"a", "b", "c"}));
        engine.closeBatch();
        EXPECT_EQ(ListTree(shm.root()), (Lines {"a"}));
        EXPECT_EQ(ListTree(tree / "in"), (Lines {"b", "c"}));
        EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
        EXPECT_EQ(logLines(), (Lines {in("a") + "…Move-T", in("b")}));
        EXPECT_EQ(CancelFlag.load(), 1);
    }

    // The source cannot be deleted: the copy stays, the line follows the failure's.
    CancelFlag = 0;
    run.start();
    fs.clearFaults();
    fs.failOn(Call::DeleteFile, EACCES);
    engine.FileMove2(in("c"), shm.folder(""));
    engine.closeBatch();
    EXPECT_EQ(window.messages.back().text, "ファイル書き込みエラーです。");
    EXPECT_EQ(logLines(), (Lines {in("c"), in("c") + "…Move-T"}));
    EXPECT_TRUE(stdfs::exists(shm / "c") && stdfs::exists(in("c")));

    // A file another program still writes, or holds open for writing, is not moved: the copy
    // goes, the source stays whole.
    const auto notMoved = [&](const std::string& path, const std::string& expected) {
        CancelFlag = 0;
        window.messages.clear();
        window.yields = 0;
        engine.FileMove2(path, shm.folder(""));
        EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
        EXPECT_EQ(ReadFile(path), expected);
        EXPECT_EQ(ListTree(shm.root()), (Lines {"a", "c"}));  // no temporary left
    };
    tree.write("in/growing.bin", Bytes(3 << 20));
    window.onYield = [&](int n) {
        if (n == 3) std::ofstream(in("growing.bin"), std::ios::app) << "+";  // the copy has begun
    };
    notMoved(in("growing.bin"), Bytes(3 << 20) + "+");
    window.onYield = {};
    std::ofstream writer(in("open.bin"));
    writer << "still being written" << std::flush;
    notMoved(in("open.bin"), "still being written");
}

class GatherFolderTest : public GatherTest {
protected:
    void makeTree()
    {
        tree.write("in/a/x", "x");
        tree.write("in/a/y", "yy");
        tree.write("in/a/b/z", "zzz");
    }
};

TEST_F(GatherFolderTest, FlattenedOrKeptFoldersGoDeepestFirstAndOnlyEmptyOnesAreRemoved)
{
    makeTree();
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"x", "y", "z"}));
    EXPECT_EQ(logLines(), (Lines {in("a/x") + "…Move-T", in("a/y") + "…Move-T", in("a/b/z") + "…Move-T",
                                  in("a/b") + "…フォルダ削除-T", in("a") + "…フォルダ削除-T"}));

    run.start();
    RemoveTree(tree / "out");
    tree.mkdir("out");
    makeTree();
    tree.write("in/a/b/v", "v");
    window.keep = true;
    fs.failOn(Call::RenameNoReplace, EIO, EndsWith("/b/v"));
    window.set(MenuOption::ErrMushi);
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out/a"), (Lines {"b/", "b/z", "x", "y"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"a/", "a/b/", "a/b/v"}));
    EXPECT_EQ(logLines(), (Lines {dst() + "a…フォルダ作成-T", in("a/x") + "…Move-T", in("a/y") + "…Move-T",
                                  dst() + "a/b…フォルダ作成-T", in("a/b/v") + "…Move-T", in("a/b/z") + "…Move-T",
                                  in("a/b") + "…削除しない(フォルダが空ではない)-T", in("a") + "…削除しない(フォルダが空ではない)-T"}));

    // Copied into the existing copy: merged, collisions renamed, the source stays.
    run.start();
    tree.write("in/a/x", "other");
    engine.FolderCopy2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out/a"), (Lines {"b/", "b/v", "b/z", "x", "x_000", "y"}));
    EXPECT_EQ(logLines().front(), in("a/x_000") + "…Rename後Copy-T");
    EXPECT_TRUE(stdfs::exists(in("a/x")));
}

TEST_F(GatherFolderTest, TheDestinationAsTheSourceOrInsideItIsRecognisedHoweverWritten)
{
    makeTree();
    stdfs::create_directory_symlink(tree / "in/a/b", tree / "blink");
    for (const char* d : {"in/a", "in/a/b", "blink", "out/../in/a"}) engine.FolderMove2(in("a"), tree.folder(d));
    engine.FolderCopy2(in("a"), tree.folder("in/a/b"));
    window.keep = true;
    engine.FolderMove2(in("a"), tree.folder("in"));  // kept into its own parent: each file is in place
    fs.failOn(Call::List, EIO, {}, 0, -1);           // were the root check to miss, nothing is walked
    engine.FolderCopy2("/", dst());
    EXPECT_EQ(logLines(), (Lines {in("a") + "…移動元と移動先が同じ-T", in("a") + "…移動元の中に移動先がある-T",
                                  in("a") + "…移動元の中に移動先がある-T", in("a") + "…移動元と移動先が同じ-T",
                                  in("a") + "…コピー元の中にコピー先がある-T", in("a/x") + "…移動元と移動先が同じ-T",
                                  in("a/y") + "…移動元と移動先が同じ-T", in("a/b/z") + "…移動元と移動先が同じ-T",
                                  "/…コピー元の中にコピー先がある-T"}));
    EXPECT_EQ(ListTree(tree / "in/a"), (Lines {"b/", "b/z", "x", "y"}));
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(GatherFolderTest, AStopDuringTheWalkMovesNothingMoreAndRemovesNothing)
{
    makeTree();
    stopAtYield(3);  // the folder's yield, x's, then y's: y is not moved
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"x"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"a/", "a/b/", "a/b/z", "a/y"}));
    EXPECT_TRUE(run.stopped());
    EXPECT_EQ(logLines(), (Lines {in("a/x") + "…Move-T", ""}));
}

}  // namespace
}  // namespace sorvin::test
