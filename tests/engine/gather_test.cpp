// The gathering operations over a real temporary tree, failures made by the fault-injecting file
// system. One scenario per behaviour; every failure path is a row of one table.
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "engine/naming.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

TEST(Naming, SerialNamesAndTheSerialTable)
{
    for (auto [base, ext, n, names] : {std::tuple {"README", "", 1000, "README_1000 README._1000"}, {"", "bashrc", 7, "_007.bashrc .bashrc_007"}})
        EXPECT_EQ(SerialName(base, ext, n, false) + " " + SerialName(base, ext, n, true), names);
    SerialTable table;
    for (int i = 0; i < 32767; ++i) table.next("a.txt");
    EXPECT_EQ(table.next("a.txt"), 32767);
    EXPECT_THROW(table.next("a.txt"), std::overflow_error);
    EXPECT_EQ(table.next("A.TXT"), 0);
    table.reset();
    EXPECT_EQ(table.next("a.txt"), 0);
}

TEST_F(GatherTest, MovesNameCollisionsAndDuplicates)
{
    for (auto [f, bytes] : {std::pair {"in/a.txt", "hello"}, {"out/b.txt", "other size"}, {"in/b.txt", "bbb"},
                            {"in/x/b.txt", "ccc"} /* the size of out/b_000.txt, other bytes */, {"in/y/a.txt", "hello"}, {"in/c.txt", "c"}})
        tree.write(f, bytes);
    tree.mkdir("out/c.txt");  // a folder is never replaced
    for (const char* f : {"a.txt", "b.txt", "x/b.txt", "y/a.txt", "c.txt"}) engine.FileMove2(in(f), dst());
    EXPECT_EQ(logLines(), (Lines {in("a.txt") + "…Move-T", in("b_000.txt") + "…Rename後Move-T", in("x/b_001.txt") + "…Rename後Move-T",
                                  in("y/a.txt") + "…Delete-T", in("c_000.txt") + "…Rename後Move-T"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"x/", "y/"}));
    EXPECT_EQ(window.started, (Lines {"a.txt", "b.txt", "b.txt", "a.txt", "c.txt"}));

    // A new count meets b_000 and b_001 before b_002; with every name checked, walks start at 000.
    run.NameTable.reset();
    engine.FileMove2(tree.write("in/b.txt", "dddd"), dst());
    EXPECT_EQ(ReadFile(tree / "out/b_002.txt"), "dddd");
    window.set(MenuOption::Genmitsu);
    engine.FileMove2(tree.write("in/b.txt", "bbb"), dst());
    EXPECT_TRUE(logLines().back() == in("b_000.txt") + "…Delete-T" && window.messages.empty());
}

TEST_F(GatherTest, TheSameFileIsNeverItsOwnDuplicate)
{
    tree.write("in/a.txt", "x");
    stdfs::create_directory_symlink(tree / "in", tree / "link");
    for (const std::string& d : {tree.folder("in"), tree.folder("link"), tree.folder("out/../in")}) engine.FileMove2(in("a.txt"), d);
    EXPECT_EQ(logLines(), Lines(3, in("a.txt") + "…移動元と移動先が同じ-T"));

    // A hard link is a true duplicate; a link back to the source, or a dangling one, is not, moved or copied.
    ASSERT_EQ(link(in("a.txt").c_str(), (tree / "out/a.txt").c_str()), 0);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_FALSE(stdfs::exists(in("a.txt")));
    stdfs::create_symlink(tree.write("in/b.txt", std::string(in("b.txt").size(), 'b')), tree / "out/b.txt");
    tree.write("in/c.txt", "/nowhere");
    stdfs::create_symlink("/nowhere", tree / "out/c.txt");
    engine.FileMove2(in("b.txt"), dst());
    engine.FileMove2(in("c.txt"), dst());
    stdfs::create_symlink("/nowhere", tree / "out/e.txt");
    engine.FileCopy2(tree.write("in/e.txt", "/nowhere"), dst());

    // A copy takes equal size for the same file, or with the option an equal checksum too.
    tree.write("out/d.bin", Bytes(3 << 20, 1));
    engine.FileCopy2(tree.write("in/d.bin", Bytes(3 << 20, 2)), dst());
    EXPECT_EQ(logLines().back(), in("d.bin") + "…同一ファイルあり-T");
    window.set(MenuOption::Crc32);
    engine.FileCopy2(in("d.bin"), dst());
    window.set(MenuOption::Genmitsu);
    engine.FileCopy2(in("d.bin"), dst());
    EXPECT_EQ(logLines().back(), in("d_000.bin") + "…同一ファイルあり-T");
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "b.txt", "b_000.txt", "c.txt", "c_000.txt", "d.bin", "d_000.bin", "e.txt", "e_000.txt"}));
    EXPECT_EQ(ReadFile(tree / "out/b_000.txt") + ReadFile(tree / "out/c_000.txt") + ReadFile(tree / "out/e_000.txt"),
              std::string(in("b.txt").size(), 'b') + "/nowhere/nowhere");
    // A stop pressed while a checksum is computed is taken at its next mark, before any copy.
    const int copies = fs.calls(Call::CopyFile);
    stopAtYield(window.yields + 2);
    engine.FileCopy2(tree.write("in/d.bin", Bytes(3 << 20, 3)), dst());
    EXPECT_TRUE(fs.calls(Call::CopyFile) == copies && logLines().back().empty());  // the stop ends the line
}

// Every failure path: where it is made, what the user is told, what the log says; a message stops the run.
TEST_F(GatherTest, FailuresByClassSideAndOperation)
{
    struct Row {
        void (Engine::*op)(const Path&, const Path&);
        Call call;
        int err;
        bool ignore, keep;
        std::string message;  // "" when none
        Lines log;            // "<a>": the file's path; "<a>+": its move line; else a path under the tree
    };
    const Row rows[] = {
        {&Engine::FileMove2, Call::RenameNoReplace, EACCES, false, false, "ファイル書き込みエラーです。", {"<a>", "<a>+"}},
        {&Engine::FileMove2, Call::RenameNoReplace, ENOSPC, true, false, "書き込み先の容量不足です。", {"<a>", "<a>+"}},
        {&Engine::FileMove2, Call::RenameNoReplace, ENOENT, false, false, "指定されたパスが見つかりません。", {"<a>", "<a>+"}},
        {&Engine::FileMove2, Call::RenameNoReplace, EIO, false, false, "Input/output error", {"<a>"}},
        {&Engine::FileMove2, Call::RenameNoReplace, EIO, true, false, "", {"<a>+"}},
        {&Engine::FileMove2, Call::RenameNoReplace, EEXIST, false, false, "", {"in/a_000.txt…Rename後Move-T"}},
        {&Engine::FileMove2, Call::FileSize, EACCES, false, false, "ファイル書き込みエラーです。", {"<a>"}},
        {&Engine::FileMove2, Call::FileSize, EIO, true, false, "", {}},  // the file stays where it is
        {&Engine::FileMove2, Call::OpenPath, EIO, false, false, "Input/output error", {"<a>"}},
        {&Engine::FileCopy2, Call::CopyFile, ENOSPC, false, false, "コピーが正常に終了しませんでした", {"<a>"}},
        {&Engine::FolderMove2, Call::OpenPath, ENOENT, false, false, "No such file or directory", {}},
        {&Engine::FolderMove2, Call::OpenPath, ENOENT, true, false, "", {}},
        {&Engine::FolderMove2, Call::RemoveEmptyFolder, EACCES, false, false, "フォルダ書き込みエラー。", {"<a>+", "in/f…フォルダ削除-T"}},
        {&Engine::FolderMove2, Call::RemoveEmptyFolder, ENOTEMPTY, false, false, "", {"<a>+", "in/f…削除しない(フォルダが空ではない)-T"}},
        {&Engine::FolderMove2, Call::FolderIsEmpty, EIO, false, false, "Input/output error", {"<a>+"}},
        {&Engine::FolderCopy2, Call::CreateFolder, EACCES, false, true, "フォルダ書き込みエラーです。", {"out/f…フォルダ作成-T"}},
        {&Engine::FolderCopy2, Call::CreateFolder, ENOSPC, false, true, "書き込み先の容量不足です。", {"out/f…フォルダ作成-T"}},
        {&Engine::FolderCopy2, Call::CreateFolder, EIO, true, true, "", {"out/f…フォルダ作成-T"}},
        {&Engine::FolderCopy2, Call::EntryType, EIO, false, true, "Input/output error", {}},
        {&Engine::FolderCopy2, Call::List, EIO, false, false, "Input/output error", {}},
        {&Engine::FolderCopy2, Call::OpenFolder, EIO, false, false, "Input/output error", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << (&r - rows));
        for (const char* f : {"in", "out"}) RemoveTree(tree / f);
        const bool file = r.op == &Engine::FileMove2 || r.op == &Engine::FileCopy2;
        const std::string a = file ? in("a.txt") : in("f/a.txt");
        tree.write(file ? "in/a.txt" : "in/f/a.txt", "x");
        tree.write(r.call == Call::FileSize ? "out/a.txt" : r.call == Call::EntryType ? "out/f/.keep" : "out/.keep", "yy");
        restart();
        window.keep = r.keep;
        window.set(MenuOption::ErrMushi, r.ignore);
        fs.failOn(r.call, r.err, r.call == Call::OpenPath ? EndsWith("/in") : nullptr, 0, r.ignore ? -1 : 1);
        (engine.*r.op)(file ? a : in("f"), dst());
        Lines expected;
        for (const std::string& line : r.log) expected.push_back(line == "<a>" ? a : line == "<a>+" ? a + "…Move-T" : (tree / line).native());
        EXPECT_EQ(logLines(), expected);
        EXPECT_EQ(window.messageTexts(), r.message.empty() ? Lines {} : Lines {r.message});
        for (const auto& m : window.messages) EXPECT_EQ(m.title, file ? MessageTitle::Pelkor : MessageTitle::Application);
        EXPECT_EQ(CancelFlag.load() != 0, !r.message.empty());
    }
    EXPECT_EQ(fs.calls(Call::CreateFolder), 3);  // an ignored failure is not retried without end
}

TEST_F(GatherTest, AcrossFileSystemsTheSourceGoesOnlyWithItsDurableBatch)
{
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is not a second file system";
    TempTree shm("/dev/shm");
    // b's copy cannot be made durable, so no copy of the batch counts as on the disk: each goes, each source stays.
    fs.failOn(Call::MakeDurable, EIO, EndsWith("/b"), 0, -1);
    for (const std::string n : {"a", "b", "c"}) engine.FileMove2(tree.write("in/" + n, n + n), shm.folder(""));
    EXPECT_TRUE(ListTree(tree / "in").size() == 3 && logLines().empty());  // the sources and their lines wait for the batch
    engine.closeBatch();
    EXPECT_TRUE(ListTree(shm.root()).empty() && ListTree(tree / "in").size() == 3);
    EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
    EXPECT_TRUE(logLines() == (Lines {in("a")}) && CancelFlag.load() != 0);
    // A failure closes the batch first: its lines come before the failure's.
    restart();
    engine.FileMove2(tree.write("in/d", "d"), shm.folder(""));
    engine.FileMove2(in("gone/e"), shm.folder(""));
    EXPECT_EQ(logLines(), (Lines {in("d") + "…Move-T", in("gone/e")}));
}

void MakeTree(const TempTree& tree) { for (auto [f, bytes] : {std::pair {"in/a/x", "x"}, {"in/a/y", "yy"}, {"in/a/b/z", "zzz"}}) tree.write(f, bytes); }

TEST_F(GatherTest, FlattenedOrKeptFoldersGoDeepestFirstAndOnlyEmptyOnesAreRemoved)
{
    MakeTree(tree);
    engine.FolderMove2(in("a"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"x", "y", "z"}));
    EXPECT_EQ(logLines(), (Lines {in("a/x") + "…Move-T", in("a/y") + "…Move-T", in("a/b/z") + "…Move-T",
                                  in("a/b") + "…フォルダ削除-T", in("a") + "…フォルダ削除-T"}));

    // Kept, with a file that stays: the folders it is in stay too.
    run.start();
    MakeTree(tree);
    tree.write("in/a/b/v", "v");
    tree.mkdir("kept");
    window.keep = true;
    fs.failOn(Call::RenameNoReplace, EIO, EndsWith("/b/v"));
    window.set(MenuOption::ErrMushi);
    engine.FolderMove2(in("a"), tree.folder("kept"));
    EXPECT_TRUE(ListTree(tree / "kept/a") == (Lines {"b/", "b/z", "x", "y"}) && ListTree(tree / "in") == (Lines {"a/", "a/b/", "a/b/v"}));
    EXPECT_EQ(logLines(), (Lines {tree.folder("kept") + "a…フォルダ作成-T", in("a/x") + "…Move-T", in("a/y") + "…Move-T",
                                  tree.folder("kept") + "a/b…フォルダ作成-T", in("a/b/v") + "…Move-T", in("a/b/z") + "…Move-T",
                                  in("a/b") + "…削除しない(フォルダが空ではない)-T", in("a") + "…削除しない(フォルダが空ではない)-T"}));
}

TEST_F(GatherTest, TheDestinationAsTheSourceOrInsideItIsRecognisedHoweverWritten)
{
    MakeTree(tree);
    stdfs::create_directory_symlink(tree / "in/a/b", tree / "blink");
    for (const char* d : {"in/a", "blink", "out/../in/a"}) engine.FolderMove2(in("a"), tree.folder(d));
    engine.FolderCopy2(in("a"), tree.folder("in/a/b"));
    window.keep = true;
    engine.FolderMove2(in("a"), tree.folder("in"));  // kept into its own parent: each file is in place
    fs.failOn(Call::List, EIO, {}, 0, -1);           // were the root check to miss, nothing is walked
    engine.FolderCopy2("/", dst());
    const std::string same = "…移動元と移動先が同じ-T";
    EXPECT_EQ(logLines(), (Lines {in("a") + same, in("a") + "…移動元の中に移動先がある-T", in("a") + same, in("a") + "…コピー元の中にコピー先がある-T",
                                  in("a/x") + same, in("a/y") + same, in("a/b/z") + same, "/…コピー元の中にコピー先がある-T"}));
    EXPECT_TRUE(window.messages.empty());
}

}  // namespace
}  // namespace sorvin::test
