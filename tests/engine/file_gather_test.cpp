#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "checksum/crc32.h"
#include "shared/run.h"
#include "shared/text.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

class FileMoveTest : public GatherTest {};
class FileCopyTest : public GatherTest {};

TEST_F(FileMoveTest, MovesUnderThePlainNameOrASerialNameAndLogsTheSourceFolder)
{
    tree.write("in/a.txt", "hello");
    tree.write("in/b.txt", "bbb");
    tree.write("out/b.txt", "other size");

    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(MaskTimes(window.pane()), in("a.txt") + "…Move-T");
    EXPECT_EQ(window.caption(), "a.txt");

    engine.FileMove2(in("b.txt"), dst());

    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "b.txt", "b_000.txt"}));
    EXPECT_EQ(ReadFile(tree / "out/b_000.txt"), "bbb");
    EXPECT_EQ(ReadFile(tree / "out/b.txt"), "other size");
    EXPECT_TRUE(ListTree(tree / "in").empty());
    EXPECT_EQ(logLines(), (Lines {in("a.txt") + "…Move-T", in("b_000.txt") + "…Rename後Move-T"}));
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(FileMoveTest, ADuplicateIsDeletedOnlyWhenItsBytesAreInTheDestination)
{
    tree.write("out/a.txt", "hello");
    tree.write("in/x/a.txt", "world");  // the same size, other bytes: gathered beside it
    tree.write("in/y/a.txt", "hello");
    engine.FileMove2(in("x/a.txt"), dst());
    EXPECT_EQ(window.pane(), in("x/a_000.txt") + "…Rename後Move-" + TimeText());
    engine.FileMove2(in("y/a.txt"), dst());
    EXPECT_EQ(window.pane(), in("y/a.txt") + "…Delete");  // the time only in the log
    EXPECT_EQ(logLines(), (Lines {in("x/a_000.txt") + "…Rename後Move-T", in("y/a.txt") + "…Delete-T"}));
    EXPECT_EQ(ReadFile(tree / "out/a.txt"), "hello");
    EXPECT_EQ(ReadFile(tree / "out/a_000.txt"), "world");

    // The compare shows its progress and takes the stop button like a checksum does.
    tree.write("out/big.bin", Bytes(3 << 20));
    tree.write("in/big.bin", Bytes(3 << 20));
    window.yields = 0;
    stopAtYield(2);  // the operation's own yield, then the compare's first 1 MiB
    engine.FileMove2(in("big.bin"), dst());
    EXPECT_EQ(window.caption(), "Dst-big.bin 33% Compare Checking1048576");
    EXPECT_TRUE(stdfs::exists(in("big.bin")));
    EXPECT_TRUE(run.stopped());
    EXPECT_EQ(logLines().back(), "");  // only the stop button's line end: no outcome line
    CancelFlag = 0;

    // Two files built to share a CRC-32: the checksum option never lets a move delete on it.
    window.set(MenuOption::Crc32);
    std::string first = Bytes(4096), second = first;
    const unsigned char generator[] = {0x41, 0x06, 0x71, 0xDB, 0x01};
    for (std::size_t i = 0; i < sizeof generator; ++i) second[100 + i] = static_cast<char>(second[100 + i] ^ generator[i]);
    ASSERT_EQ(Crc32Update(0, first.data(), first.size()), Crc32Update(0, second.data(), second.size()));
    tree.write("out/b.bin", first);
    tree.write("in/b.bin", second);
    engine.FileMove2(in("b.bin"), dst());
    EXPECT_EQ(ReadFile(tree / "out/b.bin"), first);
    EXPECT_EQ(ReadFile(tree / "out/b_000.bin"), second);

    // A read that fails during the compare: reported like any failure of the walk, nothing
    // deleted; with other errors ignored the file stays and the operation ends quietly.
    tree.write("in/z/b.bin", first);
    fs.failOn(Call::Read, EIO, EndsWith("out/b.bin"));
    engine.FileMove2(in("z/b.bin"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"Input/output error"}));
    EXPECT_EQ(logLines().back(), in("z/b.bin"));
    CancelFlag = 0;
    window.set(MenuOption::ErrMushi);
    fs.failOn(Call::Read, EIO, EndsWith("in/z/b.bin"));
    engine.FileMove2(in("z/b.bin"), dst());
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(ReadFile(in("z/b.bin")), first);
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "a_000.txt", "b.bin", "b_000.bin", "big.bin"}));
    EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(FileMoveTest, SerialsContinueFromTheRunsCountUnlessEveryNameIsChecked)
{
    tree.write("out/a.txt", "1");
    tree.write("in/x/a.txt", "22");
    tree.write("in/y/a.txt", "333");
    engine.FileMove2(in("x/a.txt"), dst());
    engine.FileMove2(in("y/a.txt"), dst());
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "a_000.txt", "a_001.txt"}));
    EXPECT_EQ(ReadFile(tree / "out/a_001.txt"), "333");

    // A new count (a new run) meets a_000 and a_001 again before it finds a_002 free; with every
    // name checked, each walk starts at 000 whatever the count says.
    run.NameTable.reset();
    tree.write("in/z/a.txt", "4444");
    engine.FileMove2(in("z/a.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/a_002.txt"), "4444");

    window.set(MenuOption::Genmitsu);
    tree.write("in/w/a.txt", "22");  // the size of a_000: a duplicate found only by a walk from 000
    engine.FileMove2(in("w/a.txt"), dst());
    EXPECT_EQ(logLines().back(), in("w/a_000.txt") + "…Delete-T");
}

TEST_F(FileMoveTest, TheSourceFolderReachedAnyWayIsTheSameFolderAndNothingIsTouched)
{
    tree.write("in/a.txt", "x");
    stdfs::create_directory_symlink(tree / "in", tree / "link");

    engine.FileMove2(in("a.txt"), tree.folder("in"));
    engine.FileMove2(in("a.txt"), tree.folder("link"));
    engine.FileMove2(in("a.txt"), tree.folder("out/../in"));

    EXPECT_EQ(logLines(), Lines(3, in("a.txt") + "…移動元と移動先が同じ-T"));
    EXPECT_EQ(ReadFile(in("a.txt")), "x");
}

TEST_F(FileMoveTest, AHardLinkElsewhereIsATrueDuplicateButALinkBackToTheSourceIsNot)
{
    tree.write("in/a.txt", "data");
    ASSERT_EQ(link(in("a.txt").c_str(), (tree / "out/a.txt").c_str()), 0);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_FALSE(stdfs::exists(in("a.txt")));
    EXPECT_EQ(ReadFile(tree / "out/a.txt"), "data");

    // A link whose own size happens to equal the file's, even one whose text is the file's
    // content: deleting the file would lose its data.
    tree.write("in/b.txt", std::string(in("b.txt").size(), 'b'));
    stdfs::create_symlink(in("b.txt"), tree / "out/b.txt");
    engine.FileMove2(in("b.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/b_000.txt"), std::string(in("b.txt").size(), 'b'));
    EXPECT_TRUE(stdfs::is_symlink(tree / "out/b.txt"));
    tree.write("in/c.txt", "/nowhere");
    stdfs::create_symlink("/nowhere", tree / "out/c.txt");
    engine.FileMove2(in("c.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/c_000.txt"), "/nowhere");
}

TEST_F(FileMoveTest, AStopAlreadyAskedForTouchesNothing)
{
    tree.write("in/a.txt", "x");
    CancelFlag = 1;
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.yields, 1);
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
    EXPECT_TRUE(run.logText().empty());
}

TEST_F(FileMoveTest, WriteFailuresAreReportedAndTheOutcomeLineStillFollows)
{
    const std::pair<int, std::string> cases[] = {
        {EACCES, "ファイル書き込みエラーです。"},
        {ENOSPC, "書き込み先の容量不足です。"},
        {ENOENT, "指定されたパスが見つかりません。"},
    };
    for (const auto& [err, text] : cases) {
        SCOPED_TRACE(text);
        run.start();
        CancelFlag = 0;
        window.messages.clear();
        tree.write("in/a.txt", "x");
        fs.failOn(Call::RenameNoReplace, err);
        engine.FileMove2(in("a.txt"), dst());
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0].text, text);
        EXPECT_EQ(window.messages[0].title, MessageTitle::Pelkor);
        EXPECT_EQ(window.messages[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(logLines(), (Lines {in("a.txt"), in("a.txt") + "…Move-T"}));
        EXPECT_EQ(CancelFlag.load(), 1);
        EXPECT_TRUE(stdfs::exists(in("a.txt")));
    }
}

TEST_F(FileMoveTest, OtherFailuresShowTheirDescriptionAndEndTheOperationUnlessIgnored)
{
    tree.write("in/a.txt", "x");
    fs.failOn(Call::RenameNoReplace, EIO);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"Input/output error"}));
    EXPECT_EQ(logLines(), (Lines {in("a.txt")}));
    EXPECT_EQ(CancelFlag.load(), 1);

    CancelFlag = 0;
    run.start();
    window.set(MenuOption::ErrMushi);
    fs.failOn(Call::RenameNoReplace, EIO);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(logLines(), (Lines {in("a.txt") + "…Move-T"}));
    EXPECT_EQ(CancelFlag.load(), 0);

    // Write failures are never ignored.
    fs.failOn(Call::RenameNoReplace, EROFS);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.messages.back().text, "ファイル書き込みエラーです。");
}

TEST_F(FileMoveTest, AFailureInsideTheWalkLeavesTheFileWhereItIs)
{
    tree.write("in/a.txt", "x");
    tree.write("out/a.txt", "yy");
    window.set(MenuOption::ErrMushi);
    fs.failOn(Call::FileSize, EIO, EndsWith("out/a.txt"), 0, -1);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt"}));

    fs.clearFaults();
    fs.failOn(Call::FileSize, EACCES, EndsWith("out/a.txt"));
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"ファイル書き込みエラーです。"}));
    EXPECT_EQ(logLines(), (Lines {in("a.txt")}));
    EXPECT_TRUE(stdfs::exists(in("a.txt")));
}

TEST_F(FileMoveTest, ANameTakenBetweenTheWalkAndTheRenameSendsTheWalkOn)
{
    tree.write("in/a.txt", "x");
    fs.failOn(Call::RenameNoReplace, EEXIST);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(logLines(), (Lines {in("a_000.txt") + "…Rename後Move-T"}));
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(ReadFile(tree / "out/a_000.txt"), "x");
}

TEST_F(FileMoveTest, AFolderOfTheSameNameInTheDestinationIsNeverReplaced)
{
    tree.write("in/a.txt", "x");
    tree.mkdir("out/a.txt");
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(ReadFile(tree / "out/a_000.txt"), "x");
    EXPECT_TRUE(stdfs::is_directory(tree / "out/a.txt"));
}

TEST_F(FileMoveTest, SymbolicLinksAndUndecodableNamesAreGatheredAsThey)
{
    stdfs::create_symlink("/nowhere/target", tree / "in/link");
    const std::string odd = in("caf\xE9.txt");
    tree.write("in/caf\xE9.txt", "latin-1 name");
    engine.FileMove2(in("link"), dst());
    engine.FileMove2(odd, dst());
    EXPECT_EQ(stdfs::read_symlink(tree / "out/link"), "/nowhere/target");
    EXPECT_EQ(ReadFile(tree / "out/caf\xE9.txt"), "latin-1 name");
    EXPECT_EQ(logLines().back(), in("caf") + "\xEF\xBF\xBD.txt…Move-T");
}

TEST_F(FileMoveTest, AcrossFileSystemsTheSourceGoesOnlyAfterItsCopy)
{
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is not a second file system";
    TempTree shm("/dev/shm");
    const std::string content = Bytes(3 * 1024 * 1024 + 5);
    tree.write("in/big.bin", content);
    engine.FileMove2(in("big.bin"), shm.folder(""));
    // The source waits for its batch to be made durable, and so does the line.
    EXPECT_TRUE(stdfs::exists(in("big.bin")));
    EXPECT_TRUE(logLines().empty());
    engine.closeBatch();
    EXPECT_EQ(ReadFile(shm / "big.bin"), content);
    EXPECT_FALSE(stdfs::exists(in("big.bin")));
    EXPECT_EQ(logLines().back(), in("big.bin") + "…Move-T");
    EXPECT_EQ(window.captions.front(), "big.bin");
    EXPECT_EQ(window.captions[1], "big.bin 0% complete...");
    EXPECT_EQ(window.captions.back(), "big.bin 100% complete...");

    // The copy fails: the source stays, the move's own message, the run stops.
    tree.write("in/c.bin", "ccc");
    fs.failOn(Call::CopyFile, ENOSPC);
    engine.FileMove2(in("c.bin"), shm.folder(""));
    EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
    EXPECT_EQ(window.pane(), in("c.bin"));
    EXPECT_EQ(logLines().back(), in("c.bin"));
    EXPECT_EQ(CancelFlag.load(), 1);
    EXPECT_EQ(ReadFile(in("c.bin")), "ccc");

    // The copy succeeds but the source cannot be deleted: the copy stays, the line follows.
    CancelFlag = 0;
    fs.failOn(Call::DeleteFile, EACCES);
    engine.FileMove2(in("c.bin"), shm.folder(""));
    engine.closeBatch();
    EXPECT_EQ(window.messages.back().text, "ファイル書き込みエラーです。");
    EXPECT_EQ(ReadFile(shm / "c.bin"), "ccc");
    EXPECT_EQ(ReadFile(in("c.bin")), "ccc");
    const Lines lines = logLines();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()), (Lines {in("c.bin"), in("c.bin") + "…Move-T"}));

    // A file another program still writes: what it appends during the copy, or anything at all
    // while it holds the file open for writing, must not go into a file without a name.
    const std::string growing = in("growing.bin");
    tree.write("in/growing.bin", content);
    window.onYield = [&](int n) {
        if (n != 3) return;  // the copy has begun
        std::ofstream(growing, std::ios::app) << "appended";
    };
    const auto notMoved = [&](const std::string& path, const std::string& expected) {
        CancelFlag = 0;
        window.messages.clear();
        window.yields = 0;
        engine.FileMove2(path, shm.folder(""));
        EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
        EXPECT_EQ(ReadFile(path), expected);
        EXPECT_FALSE(stdfs::exists(shm / stdfs::path(path).filename()));
        EXPECT_EQ(ListTree(shm.root()), (Lines {"big.bin", "c.bin"}));  // no temporary left
    };
    notMoved(growing, content + "appended");
    window.onYield = nullptr;
    {
        std::ofstream writer(in("open.bin"));
        writer << "still being written";
        writer.flush();
        notMoved(in("open.bin"), "still being written");
    }
}

TEST_F(FileMoveTest, ABatchFinishesInOrderBeforeAStopAndAFailureUndoesTheMovesAfterIt)
{
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is not a second file system";
    TempTree shm("/dev/shm");
    const Lines names {"a", "b", "c"};
    auto moveAll = [&] {
        for (const auto& n : names) tree.write("in/" + n, n + n);
        for (const auto& n : names) engine.FileMove2(in(n), shm.folder(""));
    };

    // The stop, pressed while c is copied, ends the batch of a and b first: their lines stand
    // before the line the stop ended, c's path after it.
    stopAtYield(8);
    moveAll();
    EXPECT_EQ(ListTree(shm.root()), (Lines {"a", "b"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"c"}));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…Move-T", in("b") + "…Move-T", in("c")}));

    // b's copy cannot be made durable: a's move finishes, b's copy goes, c's move is undone.
    window.onYield = {};
    CancelFlag = 0;
    run.start();
    stdfs::remove(shm / "a");
    stdfs::remove(shm / "b");
    fs.failOn(Call::MakeDurable, EIO, EndsWith("/b"), 0, -1);
    moveAll();
    EXPECT_EQ(ListTree(tree / "in"), names);  // nothing is deleted before the batch is durable
    engine.closeBatch();
    EXPECT_EQ(ListTree(shm.root()), (Lines {"a"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"b", "c"}));
    EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…Move-T", in("b")}));
    EXPECT_EQ(CancelFlag.load(), 1);

    // Another program appends to b after its copy, before the batch deletes the sources: b stays
    // with what was written, its copy goes, and c's move is undone.
    fs.clearFaults();
    CancelFlag = 0;
    run.start();
    window.messages.clear();
    stdfs::remove(shm / "a");
    fs.before(Call::MakeDurable, [&] { std::ofstream(in("b"), std::ios::app) << "+"; });
    moveAll();
    engine.closeBatch();
    EXPECT_EQ(ListTree(shm.root()), (Lines {"a"}));
    EXPECT_EQ(ListTree(tree / "in"), (Lines {"b", "c"}));
    EXPECT_EQ(ReadFile(in("b")), "bb+");
    EXPECT_EQ(window.messageTexts(), (Lines {"移動が正常に終了しませんでした"}));
    EXPECT_EQ(logLines(), (Lines {in("a") + "…Move-T", in("b")}));
}

TEST_F(FileCopyTest, CopiesKeepTheSourceItsBitsAndTimeAndShowProgress)
{
    tree.write("in/a.txt", Bytes(1000));
    chmod(in("a.txt").c_str(), 0640);
    stdfs::last_write_time(in("a.txt"), stdfs::file_time_type::clock::now() - std::chrono::hours(50));
    tree.write("in/empty", "");

    engine.FileCopy2(in("a.txt"), dst());
    EXPECT_EQ(window.captions, (Lines {"a.txt 0% complete...", "a.txt 100% complete..."}));
    engine.FileCopy2(in("empty"), dst());
    EXPECT_EQ(window.caption(), "empty");

    EXPECT_EQ(ReadFile(tree / "out/a.txt"), Bytes(1000));
    EXPECT_EQ(ReadFile(in("a.txt")), Bytes(1000));
    EXPECT_EQ(stdfs::status(tree / "out/a.txt").permissions(), stdfs::status(in("a.txt")).permissions());
    EXPECT_EQ(stdfs::last_write_time(tree / "out/a.txt"), stdfs::last_write_time(in("a.txt")));

    // Copied again: the same name and size is an identical file, with the time in every output.
    engine.FileCopy2(in("a.txt"), dst());
    EXPECT_EQ(MaskTimes(window.pane()), in("a.txt") + "…同一ファイルあり-T");
    engine.FileCopy2(in("a.txt"), tree.folder("in"));
    EXPECT_EQ(logLines().back(), in("a.txt") + "…コピー元とコピー先が同じ-T");
    EXPECT_EQ(ListTree(tree / "out"), (Lines {"a.txt", "empty"}));
}

TEST_F(FileCopyTest, AStopDuringTheCopyLeavesNothingAndEndsTheLogLineWithTheSource)
{
    tree.write("in/big.bin", Bytes(20 * 1024 * 1024));
    stopAtYield(3);  // the operation's own yield, the copy's start, its first chunk
    engine.FileCopy2(in("big.bin"), dst());
    EXPECT_EQ(window.pane(), in("big.bin"));
    EXPECT_EQ(run.logText(), "\n" + in("big.bin"));  // the stop button's CR LF, then the path
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(ListTree(tree / "out").empty());  // no copy, no temporary file
    EXPECT_EQ(ReadFile(in("big.bin")), Bytes(20 * 1024 * 1024));
}

TEST_F(FileCopyTest, AFailedCopyShowsTheCopyMessageAndLeavesNoFile)
{
    tree.write("in/a.txt", "x");
    fs.failOn(Call::CopyFile, ENOSPC);
    engine.FileCopy2(in("a.txt"), dst());
    EXPECT_EQ(window.messageTexts(), (Lines {"コピーが正常に終了しませんでした"}));
    EXPECT_EQ(logLines(), (Lines {in("a.txt")}));
    EXPECT_EQ(CancelFlag.load(), 1);

    // A FIFO is never opened for reading: the copy fails at once instead of hanging.
    CancelFlag = 0;
    ASSERT_EQ(mkfifo(in("pipe").c_str(), 0600), 0);
    engine.FileCopy2(in("pipe"), dst());
    EXPECT_EQ(window.messages.back().text, "コピーが正常に終了しませんでした");
    EXPECT_TRUE(ListTree(tree / "out").empty());
}

// Where the file system takes neither RENAME_NOREPLACE nor hard links (FAT and exFAT through
// FUSE), the final name is claimed first and the file renamed over the claim: here on any disk.
class ClaimedNameTest : public GatherTest {
protected:
    fs::PosixFs claiming {fs::Placement::Placeholder};
    FaultInjectingFs claimFs {claiming};
    Engine claimEngine {run, window, claimFs};
};

TEST_F(ClaimedNameTest, ANameTakenBeforeThePlacementIsNeverReplacedAndAFailedPlacementLeavesNoClaim)
{
    // Taken by a file, then by a folder, between the walk and the move's rename.
    tree.write("in/a.txt", "mine");
    claimFs.before(Call::RenameNoReplace, [&] { tree.write("out/a.txt", "theirs"); });
    claimEngine.FileMove2(in("a.txt"), dst());
    tree.write("in/b.txt", "mine too");
    claimFs.before(Call::RenameNoReplace, [&] { tree.mkdir("out/b.txt/inside"); });
    claimEngine.FileMove2(in("b.txt"), dst());
    // Taken while a copy writes its data.
    tree.write("in/c.txt", "copied");
    const int before = window.yields;  // then the copy's own yield, then its first progress call
    window.onYield = [&](int n) {
        if (n == before + 2) tree.write("out/c.txt", "theirs, made during the copy");
    };
    claimEngine.FileCopy2(in("c.txt"), dst());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(ReadContents({tree / "out"}), (Contents {{(tree / "out/a.txt").native(), "theirs"},
                                                       {(tree / "out/a_000.txt").native(), "mine"},
                                                       {(tree / "out/b_000.txt").native(), "mine too"},
                                                       {(tree / "out/c.txt").native(), "theirs, made during the copy"},
                                                       {(tree / "out/c_000.txt").native(), "copied"}}));
    EXPECT_TRUE(stdfs::is_directory(tree / "out/b.txt/inside"));

    // The rename over the claim fails (an immutable source): the claim goes, the source stays.
    if (!SetImmutable(tree.write("in/d.txt", "fixed"), true)) GTEST_SKIP() << "the immutable flag is refused here";
    claimEngine.FileMove2(in("d.txt"), dst());
    SetImmutable(in("d.txt"), false);
    EXPECT_EQ(window.messageTexts(), (Lines {"ファイル書き込みエラーです。"}));
    EXPECT_FALSE(stdfs::exists(tree / "out/d.txt"));
    EXPECT_EQ(ReadFile(in("d.txt")), "fixed");
}

}  // namespace
}  // namespace sorvin::test
