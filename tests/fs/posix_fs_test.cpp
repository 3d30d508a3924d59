#include "fs/posix_fs.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "support/at.h"
#include "support/temp_tree.h"

namespace sorvin::fs {
namespace {

using namespace test;
using Lines = std::vector<std::string>;
using Step = std::pair<std::uint64_t, std::uint64_t>;  // (total, transferred)
constexpr std::uint64_t kMiB = 1u << 20;

// The FsError `body` throws (errno 0: none).
template <class F>
FsError ErrorOf(F body)
{
    try { body(); } catch (const FsError& e) { return e; }
    return FsError("", 0, {});
}

class PosixFsTest : public ::testing::Test {
protected:
    test::At at(const Path& p) { return test::At(fs, p); }
    // Copies and returns the errno it fails with, or 0; progress calls are recorded.
    int copy(const Path& from, const Path& to, Durability durability = Durability::Normal)
    {
        steps.clear();
        return ErrorOf([&] {
            seen = fs.copyFile(at(from), at(to), [&](std::uint64_t total, std::uint64_t done) {
                steps.emplace_back(total, done);
                if (static_cast<int>(steps.size()) == cancelAtStep) cancel = 1;
                if (onStep) onStep();
            }, &cancel, durability);
        }).error();
    }

    TempTree tree;
    PosixFs fs;
    std::vector<Step> steps;
    FileState seen;  // what the last copy saw of its source
    std::atomic<std::int32_t> cancel {0};
    int cancelAtStep = 0;
    std::function<void()> onStep;
};

TEST_F(PosixFsTest, ListsInByteOrderWithLinksAsFilesAndNeverEntersALink)
{
    for (const char* name : {"b.txt", ".hidden", "B.txt", "\xff.bin", "a"}) tree.write(name, name);
    for (const char* name : {"sub", "f", "e", "D", "c", "bb"}) tree.mkdir(name);
    ASSERT_EQ(symlink("sub", (tree / "link-to-sub").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (tree / "dangling").c_str()), 0);
    const FolderPtr root = fs.openPath(tree.root());
    const Listing listing = fs.list(*root);
    EXPECT_EQ(listing.files, (Lines{".hidden", "B.txt", "a", "b.txt", "dangling", "link-to-sub", "\xff.bin"}));
    EXPECT_EQ(listing.folders, (Lines{"D", "bb", "c", "e", "f", "sub"}));
    EXPECT_TRUE(fs.entryType({*root, "link-to-sub"}) == EntryType::File && fs.folderExists(tree / "link-to-sub"));
    EXPECT_FALSE(fs.folderExists(tree / "dangling"));
    EXPECT_EQ(fs.identity(at(tree / "link-to-sub"), true), fs.identity(at(tree / "sub"), false));
    EXPECT_EQ(ErrorOf([&] { fs.openFolder({*root, "link-to-sub"}); }).error(), ENOTDIR);
    EXPECT_EQ(ErrorOf([&] { fs.openPath(tree / "a"); }).error(), ENOTDIR);
    // An open folder stays itself when renamed and a link put in its place.
    const FolderPtr sub = fs.openFolder({*root, "sub"});
    std::filesystem::rename(tree / "sub", tree / "moved");
    ASSERT_EQ(symlink("moved", (tree / "sub").c_str()), 0);
    fs.createFolder({*sub, "made"});
    EXPECT_EQ(ListTree(tree / "moved"), Lines{"made/"});
    // Only the folder that was opened is removed, not what took its name.
    EXPECT_EQ(ErrorOf([&] { fs.removeEmptyFolder(at(tree / "sub"), *sub); }).error(), ENOENT);
}

TEST_F(PosixFsTest, RenameNeverReplacesWhicheverWayTheFileSystemAllowsAndDuplicatesAreOthers)
{
    for (const Placement first : {Placement::Exclusive, Placement::Link, Placement::Placeholder}) {
        SCOPED_TRACE(static_cast<int>(first));
        PosixFs way(first);
        auto at = [&way](const Path& p) { return test::At(way, p); };
        TempTree t;
        const Path a = t.write("a", "A"), b = t.write("b", "B");
        const FsError taken = ErrorOf([&] { way.renameNoReplace(at(a), at(b)); });
        EXPECT_EQ(std::pair(taken.error(), taken.path()), std::pair(EEXIST, b));
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(at(a), at(t.mkdir("d"))); }).error(), EEXIST);
        EXPECT_NE(ErrorOf([&] { way.renameNoReplace(at(t.mkdir("d1/inner").parent_path()), at(t / "d")); }).error(), 0);
        EXPECT_EQ(ListTree(t.root()), (Lines{"a", "b", "d/", "d1/", "d1/inner/"}));
        EXPECT_EQ(ReadFile(a) + ReadFile(b), "AB");
        way.renameNoReplace(at(a), at(t / "c"));
        EXPECT_EQ(ReadFile(t / "c"), "A");
        TempTree shm("/dev/shm");  // a rename that fails once the name is claimed takes the claim back
        if (HaveSecondFileSystem()) { EXPECT_TRUE(ErrorOf([&] { way.renameNoReplace(at(t / "c"), at(shm / "c")); }).error() == EXDEV && ListTree(shm.root()).empty()); }
        // A source that is gone leaves nothing under the name, not even a claim.
        EXPECT_EQ(ErrorOf([&] { way.renameNoReplace(at(t / "gone"), at(t / "e")); }).error(), ENOENT);
        EXPECT_EQ(ListTree(t.root()), (Lines{"b", "c", "d/", "d1/", "d1/inner/"}));
    }
    // One entry under two spellings is no duplicate of itself; a second hard link is.
    const Path a = tree.write("d/a", "A");
    ASSERT_EQ(link(a.c_str(), (tree / "e").c_str()), 0);
    EXPECT_TRUE(!fs.deleteDuplicate(at(a), at(tree / "d/./a")) && fs.deleteDuplicate(at(a), at(tree / "e")));
    EXPECT_EQ(ListTree(tree.root()), (Lines{"d/", "e"}));
}

TEST_F(PosixFsTest, CopyKeepsBytesModeTimesAndLinksAndNeverReplaces)
{
    const timespec times[2] = {{1'000'000'000, 5}, {1'200'000'000, 123'456'789}};
    for (const auto& [durability, mode] : {std::pair{Durability::Normal, 0640}, {Durability::Synced, 04755}}) {
        const Path from = tree.write("in/a.bin", Bytes(3 * kMiB + 1, mode));
        ASSERT_EQ(chmod(from.c_str(), mode), 0);
        ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
        ASSERT_EQ(copy(from, tree.mkdir("out") / "a.bin", durability), 0);
        struct stat st {};
        lstat((tree / "out/a.bin").c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), std::pair(times[1].tv_sec, times[1].tv_nsec));
        EXPECT_TRUE(ReadFile(tree / "out/a.bin") == ReadFile(from));
        EXPECT_EQ(ListTree(tree / "out"), Lines{"a.bin"});
        std::filesystem::remove_all(tree / "out");
        // What the copy saw is what the source still is, until anything of it changes.
        EXPECT_TRUE(fs.unchangedSince(at(from), seen));
        ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);  // moves its change time alone
        EXPECT_FALSE(fs.unchangedSince(at(from), seen));
        tree.write("in/a.bin", "longer: a new size");
        EXPECT_FALSE(fs.unchangedSince(at(from), seen));
    }
    EXPECT_TRUE(copy("/proc/self/status", tree / "status") == 0 && ReadFile(tree / "status").starts_with("Name:"));  // no sendfile from it
    ASSERT_EQ(symlink("../elsewhere/x", (tree / "in-link").c_str()), 0);
    ASSERT_EQ(copy(tree / "in-link", tree / "copy"), 0);
    EXPECT_EQ(std::filesystem::read_symlink(tree / "copy"), "../elsewhere/x");
    // Neither a file nor a link replaces what is there, even a dangling link.
    const Path to = tree.write("out/a", "keep");
    ASSERT_EQ(symlink("nowhere", (tree / "out/dangling").c_str()), 0);
    EXPECT_TRUE(copy(tree.write("in/a", "new"), to) == EEXIST && copy(tree / "in/a", tree / "out/dangling") == EEXIST);
    EXPECT_EQ(copy(tree / "in-link", to), EEXIST);
    EXPECT_EQ(ReadFile(to), "keep");
    ASSERT_EQ(mkfifo((tree / "fifo").c_str(), 0600), 0);
    alarm(10);  // a copy that opened the FIFO would block here
    EXPECT_EQ(copy(tree / "fifo", tree / "out/fifo"), EINVAL);
    alarm(0);
    EXPECT_EQ(ListTree(tree / "out"), (Lines{"a", "dangling"}));
}

// Within one file system and across two, in steps of at most 8 MiB; a stop at a step leaves nothing.
TEST_F(PosixFsTest, CopyReportsProgressAndAStopLeavesNothing)
{
    const std::string data = Bytes(20 * kMiB + 3);
    const Path from = tree.write("big", data);
    TempTree shm("/dev/shm");
    for (const Path& folder : {tree.mkdir("out"), test::HaveSecondFileSystem() ? shm.root() : tree.mkdir("out2")}) {
        SCOPED_TRACE(folder);
        cancelAtStep = cancel = 0;
        ASSERT_EQ(copy(from, folder / "big"), 0);
        EXPECT_EQ(steps.front(), Step(data.size(), 0));
        EXPECT_EQ(steps.back(), Step(data.size(), data.size()));
        for (std::size_t i = 1; i < steps.size(); ++i) EXPECT_LE(steps[i].second - steps[i - 1].second, 8 * kMiB);
        EXPECT_TRUE(ReadFile(folder / "big") == data);
        std::filesystem::remove(folder / "big");
        for (int step : {1, 2}) {
            cancelAtStep = step, cancel = 0;
            EXPECT_EQ(copy(from, folder / "big"), ECANCELED);
            EXPECT_EQ(static_cast<int>(steps.size()), step);
        }
        EXPECT_TRUE(ListTree(folder).empty());
    }
    cancel = 0;
    ASSERT_EQ(symlink("big", (tree / "in-link").c_str()), 0);
    EXPECT_EQ(copy(tree / "in-link", tree / "link"), ECANCELED);  // stopped at its last step, the link made is taken back
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(tree / "link")));
}

TEST_F(PosixFsTest, ASweepRemovesOnlyTemporariesNoCopyIsWriting)
{
    tree.write("out/.a.txt.sorvin-AbC123.part", "left by a killed copy");
    const Lines kept = {".a.sorvin-AbC12.part", ".a.sorvin-AbC123.dup", "a.sorvin-AbC123.part",
                        ".b.sorvin-AbC123.part.txt", ".c.sorvin-AbC123.part", ".d.sorvin-AbC123.part"};
    for (std::size_t k = 0; k + 2 < kept.size(); ++k) tree.write("out/" + kept[k], "x");
    const int writing = open(tree.write("out/" + kept[4], "being written").c_str(), O_RDONLY);
    ASSERT_EQ(flock(writing, LOCK_EX), 0);
    ASSERT_EQ(symlink("x", (tree / "out" / kept[5]).c_str()), 0);
    const FolderPtr out = fs.openPath(tree / "out");
    fs.removeLeftovers(*out);
    EXPECT_EQ(ListTree(tree / "out"), (Lines{kept[0], kept[1], kept[3], kept[4], kept[5], kept[2]}));
    close(writing);

    // A sweep at every step of a copy under way leaves its temporary alone, named within 255
    // bytes and cut between two characters.
    const std::string name = [] { std::string n; for (int i = 0; i < 127; ++i) n += "é"; return n; }();
    Lines during;
    const FolderPtr into = fs.openPath(tree.mkdir("into"));
    onStep = [&] {
        fs.removeLeftovers(*into);
        if (during.empty()) during = ListTree(tree / "into");
    };
    const std::string data = Bytes(20 * kMiB);
    ASSERT_EQ(copy(tree.write("in/big", data), tree / "into" / name), 0);
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].size(), 254u);
    EXPECT_TRUE(during[0].starts_with("." + name.substr(0, 234) + ".sorvin-")) << during[0];
    EXPECT_TRUE(ReadFile(tree / "into" / name) == data);
}

}  // namespace
}  // namespace sorvin::fs
