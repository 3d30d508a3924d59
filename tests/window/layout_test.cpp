// The window's resize rule, its option menu and its log pane.
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

#include "window_fixture.h"

namespace sorvin::test {
namespace {

using WindowLayoutTest = WindowTest;

TEST_F(WindowLayoutTest, ControlsFollowTheSizeButNotBelowTheMinimumNorWhileMinimized)
{
    open();
    // At the smallest size no label's text is cut off by its own width or by the window's edge.
    for (const char* name : {"lblTo", "lblFiles1"}) {
        QLabel* label = child<QLabel>(name);
        EXPECT_LE(label->sizeHint().width(), label->width()) << name;
        EXPECT_LE(label->geometry().right(), window->width()) << name;
    }
    window->resize(400, 330);
    settle();
    EXPECT_EQ(child("rtfSorvinfile")->size(), QSize(351, 156));
    EXPECT_EQ(child("prgbShinkou")->geometry(), QRect(0, 313, 400, 17));

    window->resize(100, 60);
    settle();
    EXPECT_EQ(window->size(), QSize(280, 246));
    EXPECT_EQ(child("rtfSorvinfile")->size(), QSize(231, 72));

    window->showMinimized();
    settle();
    window->resize(460, 300);
    settle();
    ASSERT_TRUE(window->isMinimized());
    EXPECT_EQ(child("txtPath")->width(), 231);
    window->showNormal();  // the restored window catches up
    settle();
    EXPECT_EQ(child("txtPath")->width(), 411);
}

TEST_F(WindowLayoutTest, TheOptionMenuOpensOnTheSurfaceAloneAndEachItemSetsItsOwnOption)
{
    open();
    // Qt's own menus speak Japanese too.
    std::unique_ptr<QMenu> edit(child<QPlainTextEdit>("txtPath")->createStandardContextMenu());
    EXPECT_TRUE(edit->actions().first()->text().startsWith(QStringLiteral("元に戻す"))) << edit->actions().first()->text().toStdString();

    QMenu* menu = child<QMenu>("mnuPopup");
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(menu->isVisible());
    for (const char* control : {"lblTo", "lblFiles2", "cmdCancel", "chkFolderKeep"}) {
        QTest::mouseClick(child(control), Qt::RightButton, {}, QPoint(3, 3));
        EXPECT_FALSE(menu->isVisible()) << control;
    }
    QTest::mouseClick(window.get(), Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(menu->isVisible());
    menu->close();

    // 実行ボタンを使う shows and hides the execute button, never enabling it.
    QPushButton* exec = child<QPushButton>("cmdEXEC");
    action("mnuEB")->trigger();
    EXPECT_FALSE(exec->isVisible());
    action("mnuEB")->trigger();
    EXPECT_TRUE(exec->isVisible());
    EXPECT_FALSE(exec->isEnabled());
    const std::pair<const char*, MenuOption> items[] = {
        {"mnuEB", MenuOption::ExecButton}, {"mnuNumPosition", MenuOption::NumPosition},
        {"mnuCRC32", MenuOption::Crc32},   {"mnuGenmitsu", MenuOption::Genmitsu},
        {"mnuErrMushi", MenuOption::ErrMushi}};
    for (auto [name, option] : items) {
        const bool was = window->checked(option);
        action(name)->trigger();
        EXPECT_NE(window->checked(option), was) << name;
    }
}

TEST_F(WindowLayoutTest, TheReadOnlyLogPaneTakesAHundredThousandLinesAtOnce)
{
    open();
    auto* pane = child<QPlainTextEdit>("rtfSorvinfile");
    EXPECT_TRUE(pane->isReadOnly());
    std::string log = "処理開始...12:00:00";
    for (int i = 0; i < 100000; ++i)
        log += "\r\n/home/someone/photos/2024/IMG_" + std::to_string(i) + ".jpg…Rename後Move-12:00:01";
    QElapsedTimer timer;
    timer.start();
    window->setPaneText(log);
    settle();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(pane->blockCount(), 100001);
    EXPECT_EQ(pane->document()->lastBlock().text(),
              QStringLiteral("/home/someone/photos/2024/IMG_99999.jpg…Rename後Move-12:00:01"));
}

}  // namespace
}  // namespace sorvin::test
