#include "fs/names.h"

#include <gtest/gtest.h>

namespace sorvin::fs {
namespace {

TEST(Names, SplitsPathsIntoTheirPartsAndAddsOneTrailingSlashAtMost)
{
    struct Row {
        const char *path, *parent, *file, *base, *extension;
    };
    const Row rows[] = {
        {"/in/a.txt", "/in", "a.txt", "a", "txt"},           {"/in/x.tar.gz", "/in", "x.tar.gz", "x.tar", "gz"},
        {"/in/README", "/in", "README", "README", ""},        {"/in/.bashrc", "/in", ".bashrc", "", "bashrc"},
        {"/in/a.", "/in", "a.", "a", ""},                     {"/a", "/", "a", "a", ""},
        {"/in/sub/", "/in", "sub", "sub", ""},                {"/in//a.b", "/in", "a.b", "a", "b"},
        {"rel/\xff.b\xfe", "rel", "\xff.b\xfe", "\xff", "b\xfe"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(ParentFolderName(r.path), r.parent);
        EXPECT_EQ(FileName(r.path), r.file);
        EXPECT_EQ(BaseName(r.file), r.base);
        EXPECT_EQ(ExtensionName(r.file), r.extension);
    }
    for (const char* p : {"/in", "/in/"}) EXPECT_EQ(WithTrailingSlash(p), "/in/");
    EXPECT_EQ(WithTrailingSlash("/"), "/");
}

}  // namespace
}  // namespace sorvin::fs
