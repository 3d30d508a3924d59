#include "fs/names.h"
#include "shared/text.h"

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

TEST(Names, TheLogShowsWellFormedUtf8AsItIsAndAnyOtherByteAsAReplacementCharacter)
{
    EXPECT_EQ(DisplayText("aé日Ａ\xED\x9F\xBF😀"), "aé日Ａ\xED\x9F\xBF😀");
    for (const char* bad : {"\xED\xA0\x80", "\xE0\x80\xAF", "\xF4\x90\x80", "\xC0\xAF\xFF"})  // a surrogate, overlong forms, past U+10FFFF
        EXPECT_EQ(DisplayText(bad), "\uFFFD\uFFFD\uFFFD") << bad;
}

}  // namespace
}  // namespace sorvin::fs
