// sorvin.ini: the bytes written, how each line is read, and the start and exit edge cases.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

#include "window/settings.h"
#include "window_fixture.h"

namespace sorvin::test {
namespace {

using window::DecodeSettings;
using window::EncodeSettings;
using window::Settings;

// The default file as code page 932 bytes, from an encoder other than ours.
const std::string kDefaultFile =
    "\x98\x41\x94\xd4\x88\xca\x92\x75=TOP\r\n"
    "CRC32=ON\r\n"
    "\x91\x53\x93\xaf\x96\xbc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x60\x83\x46\x83\x62\x83\x4e=ON\r\n"
    "\x83\x74\x83\x48\x83\x8b\x83\x5f\x8d\x5c\x91\xa2\x88\xdb\x8e\x9d=OFF\r\n"
    "\x93\xae\x8d\xec\x83\x82\x81\x5b\x83\x68=move\r\n"
    "\x8e\xc0\x8d\x73\x83\x7b\x83\x5e\x83\x93=\x8e\x67\x82\xed\x82\xc8\x82\xa2\r\n"
    "\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x83\x47\x83\x89\x81\x5b\x88\xc8\x8a\x4f\x96\xb3\x8e\x8b=OFF\r\n";


// Seven UTF-8 lines joined by CR LF.
std::string Lines(std::initializer_list<const char*> lines)
{
    std::string text;
    for (const char* line : lines) (text += line) += "\r\n";
    return text;
}

TEST(SettingsBytes, TheDefaultFileIsCodePage932WithCrLf)
{
    EXPECT_EQ(EncodeSettings(window::kDefaultFileSettings), kDefaultFile);
    // A file the original program wrote reads back as what it says.
    EXPECT_EQ(DecodeSettings(kDefaultFile), window::kDefaultFileSettings);
    Settings on{true, true, true, true, true, true, true};
    std::string bytes = EncodeSettings(on);
    EXPECT_NE(bytes.find("\x8e\xc0\x8d\x73\x83\x7b\x83\x5e\x83\x93=\x8e\x67\x82\xa4\r\n"), std::string::npos);  // 実行ボタン=使う
    EXPECT_NE(bytes.find("=BOTTOM\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("=copy\r\n"), std::string::npos);
}

TEST(SettingsLines, EachLineIsJudgedByItsEndingAlone)
{
    // Everything on, written in UTF-8 with LF ends.
    Settings all = DecodeSettings("連番位置=BOTTOM\nCRC32=ON\n全同名ファイルのチェック=ON\nフォルダ構造維持=ON\n"
                                  "動作モード=copy\n実行ボタン=使う\n書き込みエラー以外無視=ON\n");
    EXPECT_EQ(all, (Settings{true, true, true, true, true, true, true}));

    // Keys are never read: any line ending in ON turns its option on.
    EXPECT_EQ(DecodeSettings(Lines({"x=BOTTOM", "?ON", "ON", "ON", "copy", "使う", "whatever key=ON"})), all);

    // Case, width and a trailing blank all matter.
    EXPECT_EQ(DecodeSettings(Lines({"連番位置=bottom", "CRC32=on", "全同名ファイルのチェック=ＯＮ",
                                    "フォルダ構造維持=ON ", "動作モード=Copy", "実行ボタン=使わない",
                                    "書き込みエラー以外無視=On"})),
              (Settings{false, false, false, false, false, false, false}));

    // One CR before the LF is dropped, not more.
    EXPECT_FALSE(DecodeSettings(Lines({"連番位置=BOTTOM\r", "CRC32=ON"})).numPositionBottom);
}

TEST(SettingsLines, MissingLinesRepeatTheTestOnTheLastLineRead)
{
    // A file cut short inside its second line: "CRC3" is the last line read.
    Settings s = DecodeSettings(EncodeSettings({true, false, false, false, false, true, false}).substr(0, 21));
    EXPECT_TRUE(s.numPositionBottom);
    EXPECT_FALSE(s.crc32);
    EXPECT_FALSE(s.execButton);

    s = DecodeSettings(Lines({"連番位置=BOTTOM"}));
    EXPECT_EQ(s, (Settings{true, false, false, false, false, false, false}));

    // The last line read ends in ON, so lines 3, 4 and 7 are on as well.
    s = DecodeSettings(Lines({"連番位置=TOP", "CRC32=ON"}));
    EXPECT_EQ(s, (Settings{false, true, true, true, false, false, true}));

    EXPECT_EQ(DecodeSettings(""), (Settings{false, false, false, false, false, false, false}));
}

class SettingsFileTest : public WindowTest {
protected:
    Settings shown()
    {
        return {action("mnuNumPosition")->isChecked(), action("mnuCRC32")->isChecked(),
                action("mnuGenmitsu")->isChecked(),    child<QCheckBox>("chkFolderKeep")->isChecked(),
                child<QComboBox>("cmbMorC")->currentText() == QStringLiteral("コピー"),
                action("mnuEB")->isChecked(),          action("mnuErrMushi")->isChecked()};
    }
    void show(const Settings& s)
    {
        action("mnuNumPosition")->setChecked(s.numPositionBottom);
        action("mnuCRC32")->setChecked(s.crc32);
        action("mnuGenmitsu")->setChecked(s.genmitsu);
        child<QCheckBox>("chkFolderKeep")->setChecked(s.folderKeep);
        child<QComboBox>("cmbMorC")->setCurrentIndex(s.copy ? 1 : 0);
        action("mnuEB")->setChecked(s.execButton);
        action("mnuErrMushi")->setChecked(s.errMushi);
    }
};

TEST_F(SettingsFileTest, FirstStartKeepsTheWindowDefaultsAndWritesTheDefaultFile)
{
    open();
    EXPECT_EQ(shown(), (Settings{false, false, false, false, false, true, false}));
    EXPECT_EQ(settingsFile(), kDefaultFile);

    // The next start takes the file's values.
    window->close();
    std::filesystem::remove(tree / "sorvin.ini");
    tree.write("sorvin.ini", kDefaultFile);
    open();
    EXPECT_EQ(shown(), window::kDefaultFileSettings);
    EXPECT_FALSE(child("cmdEXEC")->isVisibleTo(window.get()));
}

TEST_F(SettingsFileTest, EveryCombinationSurvivesAnExitAndAStart)
{
    for (int bits = 0; bits < 128; ++bits) {
        Settings s{bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8),
                   bool(bits & 16), bool(bits & 32), bool(bits & 64)};
        open();
        show(s);
        window->close();
        open();
        ASSERT_EQ(shown(), s) << "combination " << bits;
        EXPECT_EQ(child("cmdEXEC")->isVisibleTo(window.get()), s.execButton) << "combination " << bits;
        EXPECT_FALSE(child("cmdEXEC")->isEnabled());
        window->close();
    }
    EXPECT_EQ(ListTree(tree.root()), std::vector<std::string>{"sorvin.ini"});  // no temporary left
}

TEST_F(SettingsFileTest, AnEmptyFileTurnsEverythingOffAndIsRewrittenAtExit)
{
    tree.write("sorvin.ini", "");
    open();
    EXPECT_EQ(shown(), (Settings{false, false, false, false, false, false, false}));
    EXPECT_FALSE(child("cmdEXEC")->isVisibleTo(window.get()));
    window->close();
    EXPECT_EQ(settingsFile(), EncodeSettings({false, false, false, false, false, false, false}));
}

TEST_F(SettingsFileTest, AnyTypedModeIsSavedAsCopy)
{
    open();
    child<QComboBox>("cmbMorC")->setEditText(QStringLiteral("移動する"));
    window->close();
    EXPECT_NE(settingsFile().find("=copy\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, AReadOnlyFileRefusesTheSaveAndKeepsItsContent)
{
    const std::string old = EncodeSettings({true, false, false, false, false, true, false});
    tree.write("sorvin.ini", old);
    ::chmod((tree / "sorvin.ini").c_str(), 0444);
    open();
    action("mnuCRC32")->setChecked(true);
    window->close();

    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_EQ(window->messages[0].text, QStringLiteral("設定ファイルの書き込みに失敗"));
    EXPECT_EQ(window->messages[0].title, QStringLiteral("sorvin"));
    EXPECT_EQ(window->messages[0].icon, QMessageBox::Warning);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(settingsFile(), old);
    EXPECT_EQ(ListTree(tree.root()), std::vector<std::string>{"sorvin.ini"});
}

TEST_F(SettingsFileTest, AFileRemovedWhileRunningIsCreatedAtExit)
{
    open();
    std::filesystem::remove(tree / "sorvin.ini");
    action("mnuErrMushi")->setChecked(true);
    window->close();
    EXPECT_TRUE(window->messages.empty());
    EXPECT_TRUE(DecodeSettings(settingsFile()).errMushi);
}

TEST_F(SettingsFileTest, OtherSaveFailuresShowTheirOwnDescription)
{
    tree.mkdir("sorvin.ini/inside");  // a folder where the file should be
    open();
    EXPECT_EQ(shown(), (Settings{false, false, false, false, false, true, false}));
    window->close();
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_FALSE(window->messages[0].text.isEmpty());
    EXPECT_NE(window->messages[0].text, QStringLiteral("設定ファイルの書き込みに失敗"));
    EXPECT_TRUE(std::filesystem::is_directory(tree / "sorvin.ini"));
}

TEST_F(SettingsFileTest, AnUnreadableFileLoadsAsEmpty)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    tree.write("sorvin.ini", EncodeSettings({true, true, true, true, true, true, true}));
    ::chmod((tree / "sorvin.ini").c_str(), 0200);
    open();
    EXPECT_EQ(shown(), (Settings{false, false, false, false, false, false, false}));
}

}  // namespace
}  // namespace sorvin::test
