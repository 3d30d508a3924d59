#include "fs/posix_fs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/at.h"
#include "support/temp_tree.h"

namespace sorvin::fs {
namespace {

using test::ReadFile;
using test::TempTree;

// The errno of the FsError `body` throws, or 0.
template <class F>
int ErrorOf(F body)
{
    try { body(); } catch (const FsError& e) { return e.error(); }
    return 0;
}

class PosixFsTest : public ::testing::Test {
protected:
    test::At at(const Path& p) { return test::At(fs, p); }

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

    const FolderPtr root = fs.openPath(tree.root());
    EXPECT_EQ(root->path(), tree.folder(""));
    const Listing listing = fs.list(*root);
    EXPECT_EQ(listing.files, (std::vector<std::string>{".hidden", "B.txt", "a", "a b", "b.txt", "dangling",
                                                       "link-to-sub", "\xff.bin"}));
    EXPECT_EQ(listing.folders, (std::vector<std::string>{".cfg", "sub"}));
    EXPECT_EQ(ErrorOf([&] { fs.openPath(tree / "a"); }), ENOTDIR);
    // A folder inside an open one is never entered through a link, and stays itself when renamed.
    EXPECT_EQ(ErrorOf([&] { fs.openFolder({*root, "link-to-sub"}); }), ENOTDIR);
    EXPECT_EQ(ErrorOf([&] { fs.openFolder({*root, "a"}); }), ENOTDIR);
    EXPECT_EQ(ErrorOf([&] { fs.openFolder({*root, "none"}); }), ENOENT);
    const FolderPtr sub = fs.openFolder({*root, "sub"});
    EXPECT_EQ(sub->path(), tree.folder("sub"));
    EXPECT_EQ(fs.identity(*fs.openFolder({*sub, ".."})), fs.identity(*root));
    std::filesystem::rename(tree / "sub", tree / "moved");
    ASSERT_EQ(symlink(".cfg", (tree / "sub").c_str()), 0);
    fs.createFolder({*sub, "made"});
    EXPECT_TRUE(fs.folderExists(tree / "moved/made"));
}

TEST_F(PosixFsTest, QueriesTreatLinksAsFilesAndAbsenceAsAnswer)
{
    const Path file = tree.write("f", "12345");
    const Path dir = tree.mkdir("d");
    ASSERT_EQ(symlink("d", (tree / "ld").c_str()), 0);
    ASSERT_EQ(symlink("missing", (tree / "dangling").c_str()), 0);

    EXPECT_TRUE(fs.folderExists(tree / "ld"));
    EXPECT_FALSE(fs.folderExists(file));
    EXPECT_FALSE(fs.folderExists(tree / "dangling"));
    EXPECT_EQ(fs.entryType(at(file)), EntryType::File);
    EXPECT_EQ(fs.entryType(at(tree / "ld")), EntryType::File);
    EXPECT_EQ(fs.entryType(at(tree / "dangling")), EntryType::File);
    EXPECT_EQ(fs.entryType(at(dir)), EntryType::Folder);
    EXPECT_EQ(fs.entryType(at(tree / "none")), EntryType::None);
    EXPECT_EQ(fs.entryType({*fs.openPath(tree.root()), "f/under-a-file"}), EntryType::None);
    EXPECT_EQ(fs.fileSize(at(file)), 5u);
    EXPECT_EQ(fs.fileSize(at(tree / "ld")), 1u);
    EXPECT_EQ(fs.identity(at(tree / "ld"), true), fs.identity(at(dir), false));
    EXPECT_NE(fs.identity(at(tree / "ld"), false), fs.identity(at(dir), false));
    EXPECT_EQ(fs.identity(*fs.openPath(tree / "ld")), fs.identity(at(dir), false));
    EXPECT_EQ(ErrorOf([&] { fs.identity(at(tree / "none"), false); }), ENOENT);
}

TEST_F(PosixFsTest, FoldersAreCreatedOnceAndRemovedOnlyWhenEmpty)
{
    const Path p = tree / "new";
    fs.createFolder(at(p));
    const FolderPtr made = fs.openPath(p);
    EXPECT_TRUE(fs.folderIsEmpty(*made));
    EXPECT_EQ(ErrorOf([&] { fs.createFolder(at(p)); }), EEXIST);
    tree.write("new/.x", "x");
    EXPECT_FALSE(fs.folderIsEmpty(*made));
    const int err = ErrorOf([&] { fs.removeEmptyFolder(at(p), *made); });
    EXPECT_TRUE(err == ENOTEMPTY || err == EEXIST) << err;
    EXPECT_EQ(ReadFile(p / ".x"), "x");
    fs.deleteFile({*made, ".x"});
    // Only the folder that was opened goes: an empty one or a link put in its place stays.
    std::filesystem::rename(p, tree / "aside");
    for (const bool link : {false, true}) {
        if (link) ASSERT_EQ(symlink("aside", p.c_str()), 0); else tree.mkdir("new");
        EXPECT_EQ(ErrorOf([&] { fs.removeEmptyFolder(at(p), *made); }), ENOENT);
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(p)));
        std::filesystem::remove(p);
    }
    std::filesystem::rename(tree / "aside", p);
    fs.removeEmptyFolder(at(p), *made);
    EXPECT_FALSE(fs.folderExists(p));
    EXPECT_EQ(Classify(ErrorOf([&] { fs.createFolder(at(tree / "missing" / "deeper")); })), ErrorClass::PathNotFound);
}

TEST_F(PosixFsTest, RenameNeverReplacesAFileOrAFolderWhicheverWayTheFileSystemAllows)
{
    for (const Placement first : {Placement::Exclusive, Placement::Link, Placement::Placeholder}) {
        SCOPED_TRACE(static_cast<int>(first));
        PosixFs way(first);
        auto at = [&way](const Path& p) { return test::At(way, p); };
        TempTree t;
        const Path a = t.write("a", "A");
        const Path b = t.write("b", "B");
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(at(a), at(b)); }), EEXIST);
        EXPECT_EQ(ReadFile(a), "A");
        EXPECT_EQ(ReadFile(b), "B");
        t.mkdir("d1/inner");
        t.mkdir("d2");
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(at(a), at(t / "d2")); }), EEXIST);
        EXPECT_NE(ErrorOf([&] { way.renameNoReplace(at(t / "d1"), at(t / "d2")); }), 0);
        EXPECT_TRUE(way.folderExists(t / "d1" / "inner"));
        EXPECT_TRUE(way.folderIsEmpty(*way.openPath(t / "d2")));

        way.renameNoReplace(at(a), at(t / "c"));
        EXPECT_FALSE(std::filesystem::exists(a));
        EXPECT_EQ(ReadFile(t / "c"), "A");
        // A source that is gone: nothing is left under the name, not even a claim.
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(at(t / "gone"), at(t / "e")); }), ENOENT);
        EXPECT_FALSE(std::filesystem::exists(t / "e"));
        if (test::HaveSecondFileSystem()) {
            TempTree shm("/dev/shm");
            EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(at(t / "c"), at(shm / "c")); }), EXDEV);
            EXPECT_EQ(ReadFile(t / "c"), "A");
            EXPECT_FALSE(std::filesystem::exists(shm / "c"));
        }
    }
}

TEST_F(PosixFsTest, ADuplicateIsDeletedUnlessItIsTheKeptFileItself)
{
    const Path a = tree.write("d/a", "A");
    ASSERT_EQ(link(a.c_str(), (tree / "e").c_str()), 0);
    // One entry under two spellings: moving it aside takes the kept name with it.
    EXPECT_FALSE(fs.deleteDuplicate(at(a), at(tree / "d/./a")));
    EXPECT_EQ(ReadFile(a), "A");
    EXPECT_EQ(test::ListTree(tree / "d"), (std::vector<std::string> {"a"}));
    // A second hard link is another name of the same bytes.
    EXPECT_TRUE(fs.deleteDuplicate(at(a), at(tree / "e")));
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(ReadFile(tree / "e"), "A");
    EXPECT_TRUE(test::ListTree(tree / "d").empty());
}

TEST_F(PosixFsTest, ReaderGivesBytesOrLinkTextAndRefusesFifos)
{
    const std::string data = test::Bytes((3u << 20) + 7);
    std::string got(data.size() + 10, '\0');
    auto reader = fs.openRead(at(tree.write("f", data)));
    EXPECT_EQ(reader->read(got.data(), 1u << 20), 1u << 20);
    EXPECT_EQ(reader->read(got.data() + (1u << 20), got.size()), data.size() - (1u << 20));
    EXPECT_EQ(reader->read(got.data(), 10), 0u);
    EXPECT_EQ(got.substr(0, data.size()), data);

    ASSERT_EQ(symlink("some/target", (tree / "l").c_str()), 0);
    char text[32] = {};
    EXPECT_EQ(fs.openRead(at(tree / "l"))->read(text, sizeof text), 11u);
    EXPECT_STREQ(text, "some/target");

    ASSERT_EQ(mkfifo((tree / "fifo").c_str(), 0600), 0);
    alarm(10);  // opening a FIFO for reading would block forever
    EXPECT_EQ(ErrorOf([&] { fs.openRead(at(tree / "fifo")); }), EINVAL);
    alarm(0);
}

TEST(Classify, MapsErrnoToTheFourClasses)
{
    for (int err : {ENOSPC, EDQUOT}) EXPECT_EQ(Classify(err), ErrorClass::DiskFull) << err;
    for (int err : {EACCES, EPERM, EROFS}) EXPECT_EQ(Classify(err), ErrorClass::PermissionDenied) << err;
    for (int err : {ENOENT, ENOTDIR}) EXPECT_EQ(Classify(err), ErrorClass::PathNotFound) << err;
    for (int err : {EIO, EXDEV, EEXIST}) EXPECT_EQ(Classify(err), ErrorClass::Other) << err;
}

}  // namespace
}  // namespace sorvin::fs
