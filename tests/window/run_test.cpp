// Drops on both targets, the three run-control states, whole runs and their stops, as a user sees
// them in the window.
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

#include "shared/run.h"
#include "window/settings.h"
#include "window_fixture.h"

namespace sorvin::test {
namespace {

class WindowRunTest : public WindowTest {
protected:
    // What shows the run-control state, read all at once.
    struct Controls {
        bool exec, cancel, menu, bar, pathTakesDrops, paneTakesDrops;
        bool operator==(const Controls&) const = default;
    };
    Controls controls()
    {
        auto files = FileList({tree.root()});
        return {child("cmdEXEC")->isEnabled(), child("cmdCancel")->isEnabled(),
                action("mnuEB")->isEnabled() && child("mnuPopup")->isEnabled(), child("prgbShinkou")->isVisible(),
                takesDrag("txtPath", *files), takesDrag("rtfSorvinfile", *files)};
    }
    static constexpr Controls kIdle{false, false, true, false, true, true};
    static constexpr Controls kPrepared{true, true, false, false, false, false};
    static constexpr Controls kRunning{false, true, false, true, false, false};
};

const QRegularExpression kRunCaption(QStringLiteral("^Pelkor0\\.4\\.2\\.07\\.\\.\\.始(.+)停(.+)$"));

TEST_F(WindowRunTest, DropsThatCannotStartARunLeaveTheWindowIdle)
{
    open();
    // Only lists of local files can be dragged.
    QMimeData plain;
    plain.setText(QStringLiteral("/tmp"));
    EXPECT_FALSE(takesDrag("txtPath", plain));
    for (const char* list : {"https://example.org/a.txt\r\n", "file:///tmp/a\r\nsftp://host/b\r\n",
                             "file://otherhost/srv/a\r\n", "# nothing but a comment\r\n"}) {
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), list);
        EXPECT_FALSE(takesDrag("rtfSorvinfile", data)) << list;
    }
    QMimeData local;
    local.setData(QStringLiteral("text/uri-list"), "# a comment\r\nfile:///tmp/b%20c\r\nfile://localhost/tmp/d\r\n");
    EXPECT_TRUE(takesDrag("rtfSorvinfile", local));

    // Files dropped with no destination folder (a file dropped as one says so in its box): the
    // message, and nothing moves.
    auto src = tree.write("in/a.txt", "a");
    drop("txtPath", {src});
    EXPECT_EQ(text("txtPath"), QStringLiteral("指定されたフォルダは存在しません"));
    drop("rtfSorvinfile", {src});
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_EQ(window->messages[0].text, QStringLiteral("送り先フォルダが存在しません"));
    EXPECT_EQ(window->messages[0].title, QStringLiteral("sorvin"));
    EXPECT_EQ(window->messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(controls(), kIdle);
    EXPECT_TRUE(std::filesystem::exists(src));
}

TEST_F(WindowRunTest, APreparedRunIsStoppedOrExecutedAndItsWholeLogShown)
{
    open();
    auto out = tree.mkdir("out");
    tree.write("out/a.txt", "older and longer");
    auto a = tree.write("in/a.txt", "new");
    auto b = tree.write("in/b.txt", "b");
    auto folder = tree.write("in/sub/c.txt", "c").parent_path();
    drop("txtPath", {out});
    drop("rtfSorvinfile", {a});
    EXPECT_EQ(controls(), kPrepared);
    child("cmdCancel")->setFocus();
    QTest::keyClick(child("cmdCancel"), Qt::Key_Return);  // a focused button takes Return like Space
    QTest::qWait(200);
    EXPECT_EQ(text("rtfSorvinfile"), QStringLiteral("…処理中止"));
    EXPECT_TRUE(kRunCaption.match(window->windowTitle()).hasMatch()) << window->windowTitle().toStdString();
    EXPECT_EQ(controls(), kIdle);
    EXPECT_EQ(ListTree(out), std::vector<std::string>{"a.txt"});

    drop("rtfSorvinfile", {a, folder, b});
    EXPECT_EQ(text("rtfSorvinfile"), QStringLiteral("実行準備完了\n実行ボタンを押してください"));
    EXPECT_EQ(controls(), kPrepared);
    action("mnuCRC32")->trigger();  // the menu is locked
    EXPECT_FALSE(action("mnuCRC32")->isChecked());
    Controls during{};
    int barMax = -1;
    window->onYield = [&] {
        during = controls();
        barMax = child<QProgressBar>("prgbShinkou")->maximum();
    };
    QTest::mouseClick(child("cmdEXEC"), Qt::LeftButton);
    window->onYield = nullptr;
    EXPECT_EQ(during, kRunning);
    EXPECT_EQ(barMax, 3);
    EXPECT_EQ(controls(), kIdle);
    EXPECT_EQ(ListTree(out), (std::vector<std::string>{"a.txt", "a_000.txt", "b.txt", "c.txt"}));

    const QStringList lines = text("rtfSorvinfile").split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines[1].contains(QStringLiteral("a_000.txt…Rename後Move-"))) << lines[1].toStdString();
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("処理終了..."))) << lines.last().toStdString();
    auto caption = kRunCaption.match(window->windowTitle());
    ASSERT_TRUE(caption.hasMatch()) << window->windowTitle().toStdString();
    EXPECT_EQ(lines.first(), QStringLiteral("処理開始...") + caption.captured(1));
}

TEST_F(WindowRunTest, WithoutTheExecuteOptionADropRunsAtOnceAndNamesThatAreNotUtf8Survive)
{
    open();
    action("mnuEB")->trigger();
    child<QComboBox>("cmbMorC")->setCurrentText(QStringLiteral("コピー"));
    auto out = tree.mkdir("out\xFE");
    auto src = tree.write("in/photo\xFF.jpg", "jpeg");
    drop("txtPath", {out});
    EXPECT_EQ(window->pathText(), out.native() + "/");
    drop("rtfSorvinfile", {src});
    EXPECT_EQ(ListTree(out), std::vector<std::string>{"photo\xFF.jpg"});
    EXPECT_EQ(ReadFile(out / "photo\xFF.jpg"), "jpeg");
    EXPECT_TRUE(std::filesystem::exists(src));  // copied, as the box says
    EXPECT_EQ(controls(), kIdle);
}

TEST_F(WindowRunTest, TheStopButtonOrClosingTheWindowEndsALongCopyLeavingNoPartOfIt)
{
    open();
    action("mnuEB")->trigger();
    child<QComboBox>("cmbMorC")->setCurrentIndex(1);
    auto out = tree.mkdir("out");
    auto big = tree.write("in/big.bin", Bytes(40u << 20));
    auto later = tree.write("in/later.txt", "later");
    drop("txtPath", {out});
    // Drops big.bin and later.txt, and calls `slot` of `target` once the copy is part way through.
    auto stopPartWay = [&](QObject* target, const char* slot) {
        bool asked = false;
        window->onYield = [&] {
            const QString caption = QString::fromStdString(window->caption());
            if (!asked && caption.contains(QStringLiteral("% complete")) && !caption.contains(QStringLiteral(" 0% "))) {
                asked = true;
                QMetaObject::invokeMethod(target, slot, Qt::QueuedConnection);
            }
        };
        drop("rtfSorvinfile", {big, later});
        window->onYield = nullptr;
        EXPECT_TRUE(asked);
        EXPECT_TRUE(ListTree(out).empty());
        EXPECT_EQ(std::filesystem::file_size(big), 40u << 20);
        EXPECT_TRUE(text("rtfSorvinfile").endsWith(QStringLiteral("big.bin…処理中止")));
        EXPECT_EQ(CancelFlag.load(), 0);
    };
    stopPartWay(child("cmdCancel"), "click");
    EXPECT_TRUE(kRunCaption.match(window->windowTitle()).hasMatch()) << window->windowTitle().toStdString();
    EXPECT_EQ(controls(), kIdle);

    // Closing stops the run the same way; the window goes, and saves, once the run has ended.
    bool openAtTheStoppedEnding = false;
    window->onPaneText = [&](const std::string& pane) {
        if (pane.ends_with("…処理中止")) openAtTheStoppedEnding = window->isVisible();
    };
    stopPartWay(window.get(), "close");
    EXPECT_TRUE(openAtTheStoppedEnding);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window::DecodeSettings(settingsFile()).copy);
    EXPECT_TRUE(window->messages.empty());
}

}  // namespace
}  // namespace sorvin::test
