// The window as it opens, its resize rule and its option menu.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include "window_fixture.h"

namespace sorvin::test {
namespace {

using WindowLayoutTest = WindowTest;

TEST_F(WindowLayoutTest, OpensIdleWithTheBuiltInDefaultsWhenNoSettingsFileExists)
{
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Pelkor0.4.2.07"));
    EXPECT_TRUE(action("mnuEB")->isChecked());
    for (const char* off : {"mnuNumPosition", "mnuCRC32", "mnuGenmitsu", "mnuErrMushi"})
        EXPECT_FALSE(action(off)->isChecked()) << off;
    EXPECT_FALSE(child<QCheckBox>("chkFolderKeep")->isChecked());
    EXPECT_EQ(child<QComboBox>("cmbMorC")->currentText(), QStringLiteral("移動"));
    EXPECT_TRUE(child<QComboBox>("cmbMorC")->isEditable());

    // Idle: the execute button shown but off, the stop button off, no bar, drops taken.
    EXPECT_TRUE(child<QPushButton>("cmdEXEC")->isVisible());
    EXPECT_FALSE(child<QPushButton>("cmdEXEC")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("cmdCancel")->isEnabled());
    EXPECT_FALSE(child<QProgressBar>("prgbShinkou")->isVisible());
    auto files = FileList({tree.root()});
    EXPECT_TRUE(takesDrag("txtPath", *files));
    EXPECT_TRUE(takesDrag("rtfSorvinfile", *files));
    EXPECT_TRUE(child<QPlainTextEdit>("rtfSorvinfile")->isReadOnly());
}

TEST_F(WindowLayoutTest, ControlsSitWhereTheLayoutPutsThemAtTheSmallestSize)
{
    open();
    EXPECT_EQ(window->size(), QSize(280, 246));  // 4200 x 3690 twips
    EXPECT_EQ(child<QLabel>("lblTo")->pos(), QPoint(24, 8));
    EXPECT_EQ(child<QLabel>("lblFiles1")->pos(), QPoint(24, 96));
    EXPECT_EQ(child<QLabel>("lblFiles2")->geometry(), QRect(136, 96, 169, 33));
    EXPECT_EQ(child<QComboBox>("cmbMorC")->geometry(), QRect(72, 93, 57, 20));
    // From the outer size of 4320 x 4100 twips: widths W - 850, the pane's height H - 3025, the
    // buttons' tops H - 1175, the check box's H - 1125.
    EXPECT_EQ(child("txtPath")->geometry(), QRect(24, 24, 231, 65));
    EXPECT_EQ(child("rtfSorvinfile")->geometry(), QRect(24, 120, 231, 72));
    EXPECT_EQ(child("cmdEXEC")->geometry(), QRect(16, 195, 41, 25));
    EXPECT_EQ(child("cmdCancel")->geometry(), QRect(64, 195, 41, 25));
    EXPECT_EQ(child("chkFolderKeep")->pos(), QPoint(120, 198));
    EXPECT_EQ(child("prgbShinkou")->geometry(), QRect(0, 229, 280, 17));

    // No label's text is cut off by the window's edge or by its own width.
    for (const char* name : {"lblTo", "lblFiles1"}) {
        QLabel* label = child<QLabel>(name);
        EXPECT_LE(label->sizeHint().width(), label->width()) << name;
        EXPECT_LE(label->geometry().right(), window->width()) << name;
    }
}

TEST_F(WindowLayoutTest, ResizingFollowsTheWindowAndSnapsBackAtTheMinimum)
{
    open();
    window->resize(400, 330);
    settle();
    // 400 x 330 pixels are 6120 x 5360 twips outside.
    EXPECT_EQ(child("txtPath")->width(), 351);
    EXPECT_EQ(child("rtfSorvinfile")->size(), QSize(351, 156));
    EXPECT_EQ(child("cmdEXEC")->y(), 279);
    EXPECT_EQ(child("chkFolderKeep")->y(), 282);
    EXPECT_EQ(child("prgbShinkou")->geometry(), QRect(0, 313, 400, 17));
    EXPECT_EQ(child("lblFiles2")->pos(), QPoint(136, 96));  // labels stay

    window->resize(100, 60);
    settle();
    EXPECT_EQ(window->size(), QSize(280, 246));
    EXPECT_EQ(child("rtfSorvinfile")->size(), QSize(231, 72));

    // Nothing is computed while minimized; the restored window catches up.
    window->showMinimized();
    settle();
    window->resize(460, 300);
    settle();
    ASSERT_TRUE(window->isMinimized());
    EXPECT_EQ(child("txtPath")->width(), 231);
    window->showNormal();
    settle();
    EXPECT_EQ(child("txtPath")->width(), 411);
}

TEST_F(WindowLayoutTest, RightClickOnTheSurfaceAloneOpensTheOptionMenu)
{
    open();
    QMenu* menu = child<QMenu>("mnuPopup");
    QStringList captions;
    for (QAction* a : menu->actions()) captions << a->text();
    EXPECT_EQ(captions, QStringList({"実行ボタンを使う", "連番を拡張子の後ろに付ける", "CRC32を使用する(遅い)",
                                     "全ての同名ファイルをチェックする（遅い）", "書き込みエラー以外を無視する"}));

    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(menu->isVisible());
    QTest::mouseClick(child("lblTo"), Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_FALSE(menu->isVisible());
    QTest::mouseClick(child("cmdCancel"), Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_FALSE(menu->isVisible());
    QTest::mouseClick(child("chkFolderKeep"), Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_FALSE(menu->isVisible());

    QTest::mouseClick(window.get(), Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(menu->isVisible());
    menu->close();
}

TEST_F(WindowLayoutTest, TheExecuteOptionShowsAndHidesTheButtonWithoutEnablingIt)
{
    open();
    QPushButton* exec = child<QPushButton>("cmdEXEC");
    action("mnuEB")->trigger();
    EXPECT_FALSE(action("mnuEB")->isChecked());
    EXPECT_FALSE(exec->isVisible());
    action("mnuEB")->trigger();
    EXPECT_TRUE(exec->isVisible());
    EXPECT_FALSE(exec->isEnabled());

    // The other four toggle their own mark and nothing else.
    const std::pair<const char*, MenuOption> others[] = {{"mnuNumPosition", MenuOption::NumPosition},
                                                         {"mnuCRC32", MenuOption::Crc32},
                                                         {"mnuGenmitsu", MenuOption::Genmitsu},
                                                         {"mnuErrMushi", MenuOption::ErrMushi}};
    for (auto [name, option] : others) {
        action(name)->trigger();
        EXPECT_TRUE(window->checked(option)) << name;
        action(name)->trigger();
        EXPECT_FALSE(window->checked(option)) << name;
    }
    EXPECT_TRUE(exec->isVisible());
}

TEST_F(WindowLayoutTest, MessageBoxesCarryTheirTitleAndIcon)
{
    window::FrmSorvin real(fs);  // the real box, closed from inside its own event loop
    real.show();
    struct Seen {
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::Question;
    };
    auto showAndRead = [&](const std::string& text, MessageTitle title, MessageIcon icon) {
        Seen seen;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = {box->text(), box->windowTitle(), box->icon()};
                box->accept();
            }
        });
        real.message(text, title, icon);
        return seen;
    };
    Seen file = showAndRead("移動が正常に終了しませんでした", MessageTitle::Pelkor, MessageIcon::Exclamation);
    EXPECT_EQ(file.text, QStringLiteral("移動が正常に終了しませんでした"));
    EXPECT_EQ(file.title, QStringLiteral("Pelkor"));
    EXPECT_EQ(file.icon, QMessageBox::Warning);
    Seen drop = showAndRead("送り先フォルダが存在しません", MessageTitle::Application, MessageIcon::None);
    EXPECT_EQ(drop.title, QStringLiteral("sorvin"));
    EXPECT_EQ(drop.icon, QMessageBox::NoIcon);
    real.close();
}

TEST_F(WindowLayoutTest, TheLogPaneTakesAHundredThousandLinesAtOnce)
{
    open();
    std::string log = "処理開始...12:00:00";
    for (int i = 0; i < 100000; ++i)
        log += "\r\n/home/someone/photos/2024/IMG_" + std::to_string(i) + ".jpg…Rename後Move-12:00:01";
    QElapsedTimer timer;
    timer.start();
    window->setPaneText(log);
    settle();
    EXPECT_LT(timer.elapsed(), 3000);
    auto* paneBox = child<QPlainTextEdit>("rtfSorvinfile");
    EXPECT_EQ(paneBox->blockCount(), 100001);
    EXPECT_EQ(paneBox->document()->lastBlock().text(),
              QStringLiteral("/home/someone/photos/2024/IMG_99999.jpg…Rename後Move-12:00:01"));
}

}  // namespace
}  // namespace sorvin::test
