// The window as a user sees it, a real one on the offscreen platform in a temporary working folder
// (where sorvin.ini lives): the settings file's bytes and lines, what a start and an exit do with
// it, and whole runs. Message boxes are recorded instead of shown.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <memory>

#include "fs/posix_fs.h"
#include "support/gather_fixture.h"
#include "support/temp_tree.h"
#include "window/drop_box.h"
#include "window/frm_sorvin.h"
#include "window/settings.h"
#include "window/start_up.h"

namespace sorvin::test {
namespace {

class TestWindow : public window::FrmSorvin {
public:
    using FrmSorvin::FrmSorvin;
    std::vector<QString> messages;
    std::function<void()> onYield;

    void yield() override
    {
        if (onYield) onYield();
        FrmSorvin::yield();
    }
    void showMessage(const QString& text, const QString&, QMessageBox::Icon) override { messages.push_back(text); }
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest()  // each test runs in a process of its own
    {
        std::filesystem::current_path(tree.root());
        ::setenv("XDG_STATE_HOME", state.root().c_str(), 1);  // the runs' journals
    }

    void open()
    {
        (window = std::make_unique<TestWindow>(fs))->show();
    }
    template <class T = QWidget>
    T* child(const char* name) { return window->findChild<T*>(QString::fromLatin1(name)); }
    QString text(const char* box) { return child<QPlainTextEdit>(box)->toPlainText(); }

    // Drops the paths onto the box as a file manager offers them, then lets a run go to its end.
    void drop(const char* box, const std::vector<std::filesystem::path>& paths)
    {
        QByteArray list;
        for (const auto& p : paths) list += "file://" + QByteArray::fromStdString(p.native()).toPercentEncoding("/") + "\r\n";
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), list);
        QWidget* target = child<QAbstractScrollArea>(box)->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &enter);
        if (enter.isAccepted()) {
            QDropEvent event(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(target, &event);
        }
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    TempTree tree, state;
    fs::PosixFs fs;
    std::unique_ptr<TestWindow> window;
};

using window::DecodeSettings, window::EncodeSettings, window::Settings;

constexpr Settings kAllOn{true, true, true, true, true, true, true};

// The default file as code page 932 bytes, from an encoder other than ours.
const std::string kDefaultFile =
    "\x98\x41\x94\xd4\x88\xca\x92\x75=TOP\r\n"
    "CRC32=ON\r\n"
    "\x91\x53\x93\xaf\x96\xbc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x60\x83\x46\x83\x62\x83\x4e=ON\r\n"
    "\x83\x74\x83\x48\x83\x8b\x83\x5f\x8d\x5c\x91\xa2\x88\xdb\x8e\x9d=OFF\r\n"
    "\x93\xae\x8d\xec\x83\x82\x81\x5b\x83\x68=move\r\n"
    "\x8e\xc0\x8d\x73\x83\x7b\x83\x5e\x83\x93=\x8e\x67\x82\xed\x82\xc8\x82\xa2\r\n"
    "\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x83\x47\x83\x89\x81\x5b\x88\xc8\x8a\x4f\x96\xb3\x8e\x8b=OFF\r\n";

TEST(SettingsBytes, TheFileIsCodePage932WithCrLfBothWays)
{
    EXPECT_TRUE(EncodeSettings(window::kDefaultFileSettings) == kDefaultFile && DecodeSettings(kDefaultFile) == window::kDefaultFileSettings);
    EXPECT_NE(EncodeSettings(kAllOn).find("\x8e\xc0\x8d\x73\x83\x7b\x83\x5e\x83\x93=\x8e\x67\x82\xa4\r\n"), std::string::npos);  // 実行ボタン=使う
    // The eighth line only while the preview is on: off, the file is the seven lines alone.
    Settings preview = window::kDefaultFileSettings;
    preview.preview = true;
    EXPECT_EQ(EncodeSettings(preview), kDefaultFile + "\x8e\xc0\x8d\x73\x91\x4f\x8a\x6d\x94\x46=ON\r\n");  // 実行前確認=ON
    EXPECT_EQ(DecodeSettings(EncodeSettings(preview)), preview);
}

TEST(SettingsLines, EachLineIsJudgedByItsEndingAndAMissingOneByTheLastLineRead)
{
    // UTF-8 with LF ends is read as well; keys are never read; case and a trailing blank matter.
    EXPECT_EQ(DecodeSettings("x=BOTTOM\n?ON\nON\nON\ncopy\n実行ボタン=使う\nwhatever=ON\n"), kAllOn);
    EXPECT_EQ(DecodeSettings("連番位置=bottom\r\nCRC32=on\r\n全同名=ＯＮ\r\nON \r\nCopy\r\n使わない\r\nOn\r\n"), (Settings{false, false, false, false, false, false, false}));
    EXPECT_FALSE(DecodeSettings("連番位置=BOTTOM\r\r\nCRC32=ON\r\n").numPositionBottom);  // one CR is dropped, not more
    // Lines 3, 4 and 7 repeat the test on "CRC32=ON"; cut short inside line 2, "CRC3" is the last line read.
    EXPECT_EQ(DecodeSettings("連番位置=TOP\r\nCRC32=ON\r\n"), (Settings{false, true, true, true, false, false, true}));
    EXPECT_EQ(DecodeSettings(EncodeSettings(kAllOn).substr(0, 21)), (Settings{true, false, false, false, false, false, false}));
}

TEST_F(WindowTest, AStartShowsTheFileAnExitWritesWhatIsShownAndAFailedSaveKeepsTheFile)
{
    const auto shown = [&] {
        return Settings {child<QAction>("mnuNumPosition")->isChecked(), child<QAction>("mnuCRC32")->isChecked(), child<QAction>("mnuGenmitsu")->isChecked(),
                         child<QCheckBox>("chkFolderKeep")->isChecked(), child<QComboBox>("cmbMorC")->currentIndex() == 1,
                         child<QAction>("mnuEB")->isChecked(), child<QAction>("mnuErrMushi")->isChecked(),
                         child<QAction>("mnuPreview")->isChecked()};
    };
    open();  // without a file: the window's defaults, written on the spot
    EXPECT_TRUE(shown() == Settings {} && ReadFile("sorvin.ini") == kDefaultFile);
    window->close();
    tree.write("sorvin.ini", EncodeSettings(kAllOn));
    open();
    EXPECT_EQ(shown(), kAllOn);
    child<QAction>("mnuCRC32")->setChecked(false);
    window->close();
    EXPECT_EQ(DecodeSettings(ReadFile("sorvin.ini")), (Settings{true, false, true, true, true, true, true}));
    // The preview option alone shows the execute button, and is saved as the eighth line.
    const Settings previewAlone {false, false, false, false, false, false, false, true};
    tree.write("sorvin.ini", EncodeSettings(previewAlone));
    open();
    EXPECT_TRUE(shown() == previewAlone && child("cmdEXEC")->isVisible());
    window->close();
    EXPECT_EQ(ReadFile("sorvin.ini"), EncodeSettings(previewAlone));

    const std::string old = ReadFile("sorvin.ini");
    ::chmod((tree / "sorvin.ini").c_str(), 0444);
    open();
    child<QAction>("mnuCRC32")->setChecked(true);
    window->close();
    EXPECT_EQ(window->messages, std::vector<QString> {QStringLiteral("設定ファイルの書き込みに失敗")});
    EXPECT_EQ(ReadFile("sorvin.ini"), old);
    EXPECT_EQ(ListTree(tree.root()), std::vector<std::string>{"sorvin.ini"});  // no temporary left
}

TEST_F(WindowTest, TheCommandLineFolderIsMadeAbsoluteAndUserSettingsLiveInTheConfigFolder)
{
    std::vector<std::string> args {"sorvin", "--user-settings", "photos/", "more"};
    std::vector<char*> argv {args[0].data(), args[1].data(), args[2].data(), args[3].data()};
    EXPECT_EQ(window::ReadCommandLine(4, argv.data()).exitStatus, 2);
    ::setenv("XDG_CONFIG_HOME", (tree / "config").c_str(), 1);
    const window::StartUp start = window::ReadCommandLine(3, argv.data());
    EXPECT_TRUE(start.folder == tree / "photos" && std::filesystem::current_path() == tree / "config/sorvin");
}

TEST_F(WindowTest, APreparedRunIsExecutedAndALongCopyIsStoppedLeavingNoPartOfIt)
{
    open();
    auto out = tree.write("out/a.txt", "older and longer").parent_path();
    auto a = tree.write("in/a.txt", "new");
    auto folder = tree.write("in/sub/c.txt", "c").parent_path();
    drop("txtPath", {out});
    drop("rtfSorvinfile", {a, folder});
    EXPECT_EQ(text("rtfSorvinfile"), QStringLiteral("実行準備完了\n実行ボタンを押してください"));
    QTest::mouseClick(child("cmdEXEC"), Qt::LeftButton);
    EXPECT_EQ(ListTree(out), (std::vector<std::string> {"a.txt", "a_000.txt", "c.txt"}));
    EXPECT_TRUE(text("rtfSorvinfile").split('\n').last().startsWith(QStringLiteral("処理終了...")));

    // Without the execute option a drop runs at once; the stop button ends the copy part way.
    child<QAction>("mnuEB")->trigger();
    child<QComboBox>("cmbMorC")->setCurrentIndex(1);
    auto big = tree.write("in/big.bin", Bytes(40u << 20));
    bool asked = false;
    window->onYield = [&] {
        const std::string caption = window->caption();
        if (!asked && caption.find("% complete") != std::string::npos && caption.find(" 0% ") == std::string::npos) {
            asked = true;
            QMetaObject::invokeMethod(child("cmdCancel"), "click", Qt::QueuedConnection);
        }
    };
    drop("rtfSorvinfile", {big});
    EXPECT_TRUE(asked && ListTree(out) == (std::vector<std::string> {"a.txt", "a_000.txt", "c.txt"}));
    EXPECT_TRUE(text("rtfSorvinfile").endsWith(QStringLiteral("big.bin…処理中止")) && window->messages.empty());

    // The menu's undo takes the first run back (the stopped copy did nothing); then there is none.
    auto undoOffered = [&] {
        QTest::mouseClick(window.get(), Qt::RightButton, {}, QPoint(2, 2));
        child("mnuPopup")->hide();
        return child<QAction>("mnuUndo")->isEnabled();
    };
    ASSERT_TRUE(undoOffered());
    bool barShown = false, dropsRefused = true;  // while the undo runs
    window->onYield = [&] { barShown |= !child("prgbShinkou")->isHidden(), dropsRefused &= !child<window::DropBox>("txtPath")->takesDrops() &&
                                                                                     !child<window::DropBox>("rtfSorvinfile")->takesDrops(); };
    child<QAction>("mnuUndo")->trigger();
    EXPECT_TRUE(barShown && dropsRefused && child<QAction>("mnuEB")->isEnabled());
    EXPECT_EQ(ListTree(out), std::vector<std::string> {"a.txt"});
    EXPECT_EQ(ListTree(tree / "in"), (std::vector<std::string> {"a.txt", "big.bin", "sub/", "sub/c.txt"}));
    EXPECT_TRUE(text("rtfSorvinfile").split('\n').last().startsWith(QStringLiteral("元に戻す処理終了...")) && !undoOffered());
}

TEST_F(WindowTest, APreviewShowsTheRunsLinesLocksWhatWouldChangeThemAndTouchesNothing)
{
    open();
    child<QAction>("mnuEB")->trigger();  // the preview holds the run all the same
    child<QAction>("mnuPreview")->trigger();
    auto out = tree.write("out/a.txt", "same").parent_path();
    auto a = tree.write("in/a.txt", "same");
    auto b = tree.write("in/b.txt", "b");
    drop("txtPath", {out});
    // The mode box, the keep-structure box and the destination box: whether each is locked.
    const auto locks = [&] {
        return std::tuple(!child("cmbMorC")->isEnabled(), !child("chkFolderKeep")->isEnabled(),
                          child<QPlainTextEdit>("txtPath")->isReadOnly());
    };
    const auto kLocked = std::tuple(true, true, true), kFree = std::tuple(false, false, false);
    const auto masked = [&] { return QString::fromStdString(MaskTimes(text("rtfSorvinfile").toStdString())).split('\n'); };

    // The stop button drops a previewed run, shown or still being made.
    drop("rtfSorvinfile", {a});
    EXPECT_TRUE(child("cmdEXEC")->isEnabled() && locks() == kLocked);
    QTest::mouseClick(child("cmdCancel"), Qt::LeftButton);
    EXPECT_TRUE(!child("cmdEXEC")->isEnabled() && locks() == kFree);
    window->onYield = [&] { QMetaObject::invokeMethod(child("cmdCancel"), "click", Qt::QueuedConnection); };
    drop("rtfSorvinfile", {a});
    window->onYield = nullptr;
    EXPECT_TRUE(text("rtfSorvinfile").endsWith(QStringLiteral("…処理中止")));
    EXPECT_TRUE(!child("cmdEXEC")->isEnabled() && locks() == kFree);

    drop("rtfSorvinfile", {a, b});
    const QStringList preview = masked();
    const QString in = QString::fromStdString((tree / "in").native());
    EXPECT_EQ(preview, (QStringList {"実行準備完了", "実行ボタンを押してください", "処理開始...T", in + "/a.txt…Delete-T",
                                     in + "/b.txt…Move-T", "処理終了...T"}));
    EXPECT_EQ(ListTree(tree / "in"), (std::vector<std::string> {"a.txt", "b.txt"}));
    EXPECT_EQ(locks(), kLocked);
    QTest::mouseClick(child("cmdEXEC"), Qt::LeftButton);
    EXPECT_EQ(masked(), preview.mid(2));
    EXPECT_EQ(ListTree(out), (std::vector<std::string> {"a.txt", "b.txt"}));
    EXPECT_EQ(locks(), kFree);
}

}  // namespace
}  // namespace sorvin::test
