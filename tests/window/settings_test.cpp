// sorvin.ini: the bytes written, how each line is read, and the start and exit edge cases.
#include <QCheckBox>
#include <QComboBox>

#include <sys/stat.h>

#include "window/settings.h"
#include "window/start_up.h"
#include "window_fixture.h"

namespace sorvin::test {
namespace {

using window::DecodeSettings;
using window::EncodeSettings;
using window::Settings;

constexpr Settings kAllOff{false, false, false, false, false, false, false};
constexpr Settings kAllOn{true, true, true, true, true, true, true};
constexpr Settings kWindowDefaults{false, false, false, false, false, true, false};

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

TEST(SettingsBytes, TheFileIsCodePage932WithCrLfBothWays)
{
    EXPECT_EQ(EncodeSettings(window::kDefaultFileSettings), kDefaultFile);
    EXPECT_EQ(DecodeSettings(kDefaultFile), window::kDefaultFileSettings);
    EXPECT_NE(EncodeSettings(kAllOn).find("\x8e\xc0\x8d\x73\x83\x7b\x83\x5e\x83\x93=\x8e\x67\x82\xa4\r\n"), std::string::npos);  // 実行ボタン=使う
}

TEST(SettingsLines, EachLineIsJudgedByItsEndingAndAMissingOneByTheLastLineRead)
{
    // UTF-8 with LF ends is read as well.
    EXPECT_EQ(DecodeSettings("連番位置=BOTTOM\nCRC32=ON\n全同名ファイルのチェック=ON\nフォルダ構造維持=ON\n"
                             "動作モード=copy\n実行ボタン=使う\n書き込みエラー以外無視=ON\n"),
              kAllOn);
    // Keys are never read; case, width and a trailing blank all matter.
    EXPECT_EQ(DecodeSettings(Lines({"x=BOTTOM", "?ON", "ON", "ON", "copy", "使う", "whatever key=ON"})), kAllOn);
    EXPECT_EQ(DecodeSettings(Lines({"連番位置=bottom", "CRC32=on", "全同名ファイルのチェック=ＯＮ", "フォルダ構造維持=ON ",
                                    "動作モード=Copy", "実行ボタン=使わない", "書き込みエラー以外無視=On"})),
              kAllOff);
    // One CR before the LF is dropped, not more.
    EXPECT_FALSE(DecodeSettings(Lines({"連番位置=BOTTOM\r", "CRC32=ON"})).numPositionBottom);

    // Lines 3, 4 and 7 repeat the test on "CRC32=ON"; the rest look for other endings.
    EXPECT_EQ(DecodeSettings(Lines({"連番位置=TOP", "CRC32=ON"})), (Settings{false, true, true, true, false, false, true}));
    // Cut short inside its second line: "CRC3" is the last line read.
    EXPECT_EQ(DecodeSettings(EncodeSettings(kAllOn).substr(0, 21)), (Settings{true, false, false, false, false, false, false}));
    EXPECT_EQ(DecodeSettings(""), kAllOff);
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
};

TEST_F(SettingsFileTest, AStartShowsTheFileAndAnExitWritesWhatIsShown)
{
    open();  // without a file: the window's defaults, written on the spot
    EXPECT_EQ(shown(), kWindowDefaults);
    EXPECT_EQ(settingsFile(), kDefaultFile);
    window->close();
    for (const Settings& s : {kAllOff, kAllOn}) {
        tree.write("sorvin.ini", EncodeSettings(s));
        open();
        EXPECT_EQ(shown(), s);
        window->close();
        EXPECT_EQ(settingsFile(), EncodeSettings(s));
    }
}

TEST_F(SettingsFileTest, AnExitRecreatesAMissingFileAndReportsASaveThatFails)
{
    open();
    std::filesystem::remove(tree / "sorvin.ini");
    action("mnuErrMushi")->setChecked(true);
    child<QComboBox>("cmbMorC")->setEditText(QStringLiteral("コピーする"));  // names no item: the mode stays 移動
    window->close();
    EXPECT_TRUE(window->messages.empty());
    EXPECT_EQ(DecodeSettings(settingsFile()), (Settings{false, false, false, false, false, true, true}));

    // A read-only file refuses the save and keeps its content.
    const std::string old = settingsFile();
    ::chmod((tree / "sorvin.ini").c_str(), 0444);
    open();
    action("mnuCRC32")->setChecked(true);
    window->close();
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_EQ(window->messages[0].text, QStringLiteral("設定ファイルの書き込みに失敗"));
    EXPECT_EQ(settingsFile(), old);
    EXPECT_EQ(ListTree(tree.root()), std::vector<std::string>{"sorvin.ini"});  // no temporary left

    // Any other failure shows its own description; a folder in the file's place is no file.
    std::filesystem::remove(tree / "sorvin.ini");
    tree.mkdir("sorvin.ini/inside");
    open();
    EXPECT_EQ(shown(), kWindowDefaults);
    window->close();
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_FALSE(window->messages[0].text.isEmpty());
    EXPECT_NE(window->messages[0].text, QStringLiteral("設定ファイルの書き込みに失敗"));
}

// sorvin [--user-settings] FOLDER: the folder made absolute before the working folder moves to
// the settings folder.
TEST_F(SettingsFileTest, TheCommandLineFolderIsMadeAbsoluteAndUserSettingsLiveInTheConfigFolder)
{
    auto read = [](std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        return window::ReadCommandLine(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_EQ(read({"sorvin", "photos", "more"}).exitStatus, 2);
    EXPECT_EQ(read({"sorvin", "--settings"}).exitStatus, 2);
    EXPECT_EQ(read({"sorvin", "--", "--user-settings"}).folder, tree / "--user-settings");
    EXPECT_EQ(std::filesystem::current_path(), tree.root());
    ::setenv("XDG_CONFIG_HOME", (tree / "config").c_str(), 1);
    const window::StartUp start = read({"sorvin", "--user-settings", "photos/"});
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_FALSE(start.exitStatus);
    EXPECT_EQ(start.folder, tree / "photos");
    EXPECT_EQ(std::filesystem::current_path(), tree / "config/sorvin");
}

}  // namespace
}  // namespace sorvin::test
