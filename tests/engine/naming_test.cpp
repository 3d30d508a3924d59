#include "engine/naming.h"

#include <cerrno>
#include <stdexcept>

#include "shared/run.h"
#include "shared/text.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

TEST(SerialName, BeforeOrAfterTheExtensionWithAtLeastThreeDigits)
{
    struct Row {
        const char* base;
        const char* ext;
        int serial;
        const char* before;
        const char* after;
    };
    const Row rows[] = {
        {"a", "txt", 0, "a_000.txt", "a.txt_000"},
        {"a", "txt", 12, "a_012.txt", "a.txt_012"},
        {"a", "txt", 1000, "a_1000.txt", "a.txt_1000"},
        {"x.tar", "gz", 0, "x.tar_000.gz", "x.tar.gz_000"},
        {"README", "", 0, "README_000", "README._000"},
        {"", "bashrc", 7, "_007.bashrc", ".bashrc_007"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(SerialName(r.base, r.ext, r.serial, false), r.before);
        EXPECT_EQ(SerialName(r.base, r.ext, r.serial, true), r.after);
    }
}

TEST(NameTableTest, CountsEachNameCaseSensitivelyUntilReset)
{
    SerialTable NameTable;
    EXPECT_EQ(NameTable.next("a.txt"), 0);
    EXPECT_EQ(NameTable.next("a.txt"), 1);
    EXPECT_EQ(NameTable.next("A.TXT"), 0);
    EXPECT_EQ(NameTable.next("a.txt"), 2);
    NameTable.reset();
    EXPECT_EQ(NameTable.next("a.txt"), 0);

    for (int i = 1; i < 32767; ++i) NameTable.next("a.txt");
    EXPECT_EQ(NameTable.next("a.txt"), 32767);
    EXPECT_THROW(NameTable.next("a.txt"), std::overflow_error);
}

class SerialOverflowTest : public GatherTest {};

TEST_F(SerialOverflowTest, AWalkThatCanHandOutNoMoreSerialsEndsWithTheFailure)
{
    tree.write("out/a.txt", "1");
    tree.write("in/a.txt", "22");
    for (int i = 0; i <= 32767; ++i) run.NameTable.next("a.txt");
    window.set(MenuOption::ErrMushi);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_TRUE(stdfs::exists(in("a.txt")));

    window.set(MenuOption::ErrMushi, false);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.messageTexts(), (std::vector<std::string> {"Value too large for defined data type"}));
    EXPECT_EQ(CancelFlag.load(), 1);
}

TEST_F(SerialOverflowTest, ANameTakenAfterTheLastSerialEndsWithTheFailureToo)
{
    // The plain name is free, but another program takes it before the rename: the walk would go
    // on past the last serial.
    tree.write("in/a.txt", "22");
    for (int i = 0; i <= 32767; ++i) run.NameTable.next("a.txt");
    fs.failOn(Call::RenameNoReplace, EEXIST);
    engine.FileMove2(in("a.txt"), dst());
    EXPECT_EQ(window.messageTexts(), (std::vector<std::string> {"Value too large for defined data type"}));
    EXPECT_EQ(CancelFlag.load(), 1);
    EXPECT_EQ(ReadFile(tree / "in/a.txt"), "22");
    EXPECT_EQ(ListTree(tree / "out"), std::vector<std::string> {});
}

TEST(DisplayTextTest, InvalidBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(DisplayText("/in/写真.jpg"), "/in/写真.jpg");
    EXPECT_EQ(DisplayText("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(DisplayText("\xC3"), "\xEF\xBF\xBD");                  // cut short
    EXPECT_EQ(DisplayText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
    EXPECT_EQ(DisplayText("\xF0\x9F\x93\xB7"), "\xF0\x9F\x93\xB7");  // four bytes
}

}  // namespace
}  // namespace sorvin::test
