#include "fs/posix_fs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/temp_tree.h"

namespace sorvin::fs {
namespace {

using test::ReadFile;
using test::TempTree;

// The errno of the FsError `body` throws, or 0.
template <class F>
int ErrorOf(F body)
{
    try {
        body();
    } catch (const FsError& e) {
        return e.error();
    }
    return 0;
}

std::vector<std::string> Names(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const auto& p : paths) names.push_back(Path(p).filename().native());
    return names;
}

class PosixFsTest : public ::testing::Test {
protected:
    TempTree tree;
    PosixFs fs;
};

TEST_F(PosixFsTest, ListsAllEntriesInByteOrderWithLinksAsFiles)
{
    for (const char* name : {"b.txt", ".hidden", "B.txt", "a b", "\xff.bin", "a"}) tree.write(name, name);
    tree.mkdir("sub");
    tree.mkdir(".cfg");
    ASSERT_EQ(symlink("sub", (tree / "link-to-sub").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (tree / "dangling").c_str()), 0);

    const Listing listing = fs.list(tree.folder(""));
    EXPECT_EQ(Names(listing.files), (std::vector<std::string>{".hidden", "B.txt", "a", "a b", "b.txt", "dangling",
                                                              "link-to-sub", "\xff.bin"}));
    EXPECT_EQ(Names(listing.folders), (std::vector<std::string>{".cfg", "sub"}));
    EXPECT_EQ(listing.files.front(), (tree / ".hidden").native());
    EXPECT_EQ(ReadFile(listing.files.back()), "\xff.bin");
    EXPECT_EQ(ErrorOf([&] { fs.list(tree / "a"); }), ENOTDIR);
}

TEST_F(PosixFsTest, QueriesTreatLinksAsFilesAndAbsenceAsAnswer)
{
    const Path file = tree.write("f", "12345");
    const Path dir = tree.mkdir("d");
    ASSERT_EQ(symlink("d", (tree / "ld").c_str()), 0);
    ASSERT_EQ(symlink("missing", (tree / "dangling").c_str()), 0);

    EXPECT_TRUE(fs.fileExists(file));
    EXPECT_FALSE(fs.fileExists(dir));
    EXPECT_TRUE(fs.fileExists(tree / "ld"));
    EXPECT_TRUE(fs.fileExists(tree / "dangling"));
    EXPECT_FALSE(fs.fileExists(tree / "none"));
    EXPECT_FALSE(fs.fileExists(file / "under-a-file"));
    EXPECT_TRUE(fs.folderExists(tree / "ld"));
    EXPECT_FALSE(fs.folderExists(file));
    EXPECT_FALSE(fs.folderExists(tree / "dangling"));
    EXPECT_EQ(fs.entryType(tree / "ld"), EntryType::File);
    EXPECT_EQ(fs.entryType(dir), EntryType::Folder);
    EXPECT_EQ(fs.entryType(tree / "none"), EntryType::None);
    EXPECT_EQ(fs.fileSize(file), 5u);
    EXPECT_EQ(fs.fileSize(tree / "ld"), 1u);
    EXPECT_EQ(fs.identity(tree / "ld", true), fs.identity(dir, false));
    EXPECT_NE(fs.identity(tree / "ld", false), fs.identity(dir, false));
    EXPECT_EQ(ErrorOf([&] { fs.identity(tree / "none", false); }), ENOENT);
}

TEST_F(PosixFsTest, FoldersAreCreatedOnceAndRemovedOnlyWhenEmpty)
{
    const Path p = tree / "new";
    fs.createFolder(p);
    EXPECT_TRUE(fs.folderIsEmpty(p));
    EXPECT_EQ(ErrorOf([&] { fs.createFolder(p); }), EEXIST);
    tree.write("new/.x", "x");
    EXPECT_FALSE(fs.folderIsEmpty(p));
    const int err = ErrorOf([&] { fs.removeEmptyFolder(p); });
    EXPECT_TRUE(err == ENOTEMPTY || err == EEXIST) << err;
    EXPECT_EQ(ReadFile(p / ".x"), "x");
    fs.deleteFile(p / ".x");
    fs.removeEmptyFolder(p);
    EXPECT_FALSE(fs.folderExists(p));
    EXPECT_EQ(Classify(ErrorOf([&] { fs.createFolder(tree / "missing" / "deeper"); })), ErrorClass::PathNotFound);
}

TEST_F(PosixFsTest, RenameNeverReplacesAFileOrAFolderWhicheverWayTheFileSystemAllows)
{
    for (const Placement first : {Placement::Exclusive, Placement::Link, Placement::Placeholder}) {
        SCOPED_TRACE(static_cast<int>(first));
        PosixFs way(first);
        TempTree t;
        const Path a = t.write("a", "A");
        const Path b = t.write("b", "B");
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(a, b); }), EEXIST);
        EXPECT_EQ(ReadFile(a), "A");
        EXPECT_EQ(ReadFile(b), "B");
        t.mkdir("d1/inner");
        t.mkdir("d2");
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(a, t / "d2"); }), EEXIST);
        EXPECT_NE(ErrorOf([&] { way.renameNoReplace(t / "d1", t / "d2"); }), 0);
        EXPECT_TRUE(way.folderExists(t / "d1" / "inner"));
        EXPECT_TRUE(way.folderIsEmpty(t / "d2"));

        way.renameNoReplace(a, t / "c");
        EXPECT_FALSE(way.fileExists(a));
        EXPECT_EQ(ReadFile(t / "c"), "A");
        // A source that is gone: nothing is left under the name, not even a claim.
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(t / "gone", t / "e"); }), ENOENT);
        EXPECT_FALSE(way.fileExists(t / "e"));
        if (test::HaveSecondFileSystem()) {
            TempTree shm("/dev/shm");
            EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(t / "c", shm / "c"); }), EXDEV);
            EXPECT_EQ(ReadFile(t / "c"), "A");
            EXPECT_FALSE(way.fileExists(shm / "c"));
        }
    }
}

TEST_F(PosixFsTest, ADuplicateIsDeletedUnlessItIsTheKeptFileItself)
{
    const Path a = tree.write("d/a", "A");
    ASSERT_EQ(link(a.c_str(), (tree / "e").c_str()), 0);
    // One entry under two spellings: moving it aside takes the kept name with it.
    EXPECT_FALSE(fs.deleteDuplicate(a, tree / "d/./a"));
    EXPECT_EQ(ReadFile(a), "A");
    EXPECT_EQ(test::ListTree(tree / "d"), (std::vector<std::string> {"a"}));
    // A second hard link is another name of the same bytes.
    EXPECT_TRUE(fs.deleteDuplicate(a, tree / "e"));
    EXPECT_FALSE(fs.fileExists(a));
    EXPECT_EQ(ReadFile(tree / "e"), "A");
    EXPECT_TRUE(test::ListTree(tree / "d").empty());
}

TEST_F(PosixFsTest, ReaderGivesBytesOrLinkTextAndRefusesFifos)
{
    const std::string data = test::Bytes((3u << 20) + 7);
    std::string got(data.size() + 10, '\0');
    auto reader = fs.openRead(tree.write("f", data));
    EXPECT_EQ(reader->read(got.data(), 1u << 20), 1u << 20);
    EXPECT_EQ(reader->read(got.data() + (1u << 20), got.size()), data.size() - (1u << 20));
    EXPECT_EQ(reader->read(got.data(), 10), 0u);
    got.resize(data.size());
    EXPECT_EQ(got, data);

    ASSERT_EQ(symlink("some/target", (tree / "l").c_str()), 0);
    char text[32] = {};
    EXPECT_EQ(fs.openRead(tree / "l")->read(text, sizeof text), 11u);
    EXPECT_STREQ(text, "some/target");

    ASSERT_EQ(mkfifo((tree / "fifo").c_str(), 0600), 0);
    alarm(10);  // opening a FIFO for reading would block forever
    EXPECT_EQ(ErrorOf([&] { fs.openRead(tree / "fifo"); }), EINVAL);
    alarm(0);
}

TEST(Classify, MapsErrnoToTheFourClasses)
{
    for (int err : {ENOSPC, EDQUOT}) EXPECT_EQ(Classify(err), ErrorClass::DiskFull) << err;
    for (int err : {EACCES, EPERM, EROFS}) EXPECT_EQ(Classify(err), ErrorClass::PermissionDenied) << err;
    for (int err : {ENOENT, ENOTDIR}) EXPECT_EQ(Classify(err), ErrorClass::PathNotFound) << err;
    for (int err : {EIO, EXDEV, ECANCELED, EEXIST}) EXPECT_EQ(Classify(err), ErrorClass::Other) << err;
}

}  // namespace
}  // namespace sorvin::fs
