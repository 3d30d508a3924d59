#include "support/fault_injecting_fs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "fs/posix_fs.h"
#include "support/temp_tree.h"

namespace sorvin::test {
namespace {

using Call = FaultInjectingFs::Call;

template <class F>
int ErrorOf(F body)
{
    try {
        body();
    } catch (const fs::FsError& e) {
        return e.error();
    }
    return 0;
}

TEST(Classify, MapsErrnoToTheFourClasses)
{
    using fs::ErrorClass;
    for (int err : {ENOSPC, EDQUOT}) EXPECT_EQ(fs::Classify(err), ErrorClass::DiskFull) << err;
    for (int err : {EACCES, EPERM, EROFS}) EXPECT_EQ(fs::Classify(err), ErrorClass::PermissionDenied) << err;
    for (int err : {ENOENT, ENOTDIR}) EXPECT_EQ(fs::Classify(err), ErrorClass::PathNotFound) << err;
    for (int err : {EIO, EXDEV, ECANCELED, EEXIST, 0}) EXPECT_EQ(fs::Classify(err), ErrorClass::Other) << err;

    const fs::FsError e("rename", EROFS, "/in/\xff");
    EXPECT_EQ(e.call(), "rename");
    EXPECT_EQ(e.path(), "/in/\xff");
    EXPECT_EQ(e.errorClass(), ErrorClass::PermissionDenied);
    EXPECT_EQ(e.description(), std::strerror(EROFS));
}

class FaultInjectingFsTest : public ::testing::Test {
protected:
    TempTree tree;
    fs::PosixFs posix;
    FaultInjectingFs fs{posix};
};

TEST_F(FaultInjectingFsTest, FailsOnlyTheChosenOccurrencesOfMatchingCalls)
{
    const fs::Path a = tree.write("a", "A");
    const fs::Path b = tree.write("b", "B");
    fs.failOn(Call::FileExists, EACCES, [&](const fs::Path& p) { return p == b; }, 1, 2);
    EXPECT_TRUE(fs.fileExists(b));
    EXPECT_TRUE(fs.fileExists(a));
    EXPECT_EQ(ErrorOf([&] { fs.fileExists(b); }), EACCES);
    EXPECT_EQ(ErrorOf([&] { fs.fileExists(b); }), EACCES);
    EXPECT_TRUE(fs.fileExists(b));
    EXPECT_EQ(fs.calls(Call::FileExists), 5);
    EXPECT_EQ(fs.calls(Call::FolderExists), 0);

    fs.failOn(Call::DeleteFile, EROFS, {}, 0, -1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ErrorOf([&] { fs.deleteFile(a); }), EROFS);
    EXPECT_EQ(ReadFile(a), "A");
    fs.clearFaults();
    fs.deleteFile(a);
    EXPECT_FALSE(fs.fileExists(a));
}

TEST_F(FaultInjectingFsTest, FailsRenamesCopiesAndReadsWithoutTouchingTheDisk)
{
    const fs::Path b = tree.write("b", std::string(100, 'b'));
    fs.failOn(Call::RenameNoReplace, EXDEV, [&](const fs::Path& p) { return p == tree / "c"; });
    EXPECT_EQ(ErrorOf([&] { fs.renameNoReplace(b, tree / "c"); }), EXDEV);
    fs.failOn(Call::CopyFile, ENOSPC);
    EXPECT_EQ(ErrorOf([&] { fs.copyFile(b, tree / "c", {}, nullptr, fs::Durability::Normal); }), ENOSPC);
    EXPECT_EQ(ListTree(tree.root()), std::vector<std::string>{"b"});

    fs.failOn(Call::Read, EIO, {}, 1);
    auto reader = fs.openRead(b);
    char buffer[60];
    EXPECT_EQ(reader->read(buffer, sizeof buffer), sizeof buffer);
    EXPECT_EQ(ErrorOf([&] { reader->read(buffer, sizeof buffer); }), EIO);
    EXPECT_EQ(reader->read(buffer, sizeof buffer), 40u);
    EXPECT_EQ(fs.calls(Call::Read), 3);
}

}  // namespace
}  // namespace sorvin::test
