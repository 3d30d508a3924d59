// Drops on both targets, the three run-control states, whole runs and their stops, as a user sees
// them in the window.
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "shared/state.h"
#include "window/drop_box.h"
#include "window_fixture.h"

namespace sorvin::test {
namespace {

class WindowRunTest : public WindowTest {
protected:
    // What shows the run-control state, read all at once.
    struct Controls {
        bool execEnabled, cancelEnabled, menuEnabled, barVisible, pathTakesDrops, paneTakesDrops;
        bool operator==(const Controls&) const = default;
    };
    Controls controls()
    {
        auto files = FileList({tree.root()});
        return {child("cmdEXEC")->isEnabled(),
                child("cmdCancel")->isEnabled(),
                action("mnuEB")->isEnabled() && child("mnuPopup")->isEnabled(),
                child("prgbShinkou")->isVisible(),
                takesDrag("txtPath", *files),
                takesDrag("rtfSorvinfile", *files)};
    }
    static constexpr Controls kIdle{false, false, true, false, true, true};
    static constexpr Controls kPrepared{true, true, false, false, false, false};
    static constexpr Controls kRunning{false, true, false, true, false, false};

    void click(const char* button) { QTest::mouseClick(child(button), Qt::LeftButton); }

    // Presses a button through the event loop the next time the run lets the window have it.
    void pressLater(const char* button)
    {
        QMetaObject::invokeMethod(child(button), "click", Qt::QueuedConnection);
    }
};

const QRegularExpression kRunCaption(QStringLiteral("^Pelkor0\\.4\\.2\\.07\\.\\.\\.始(.+)停(.+)$"));

TEST_F(WindowRunTest, DestinationDropTakesTheFirstFolderAndNamesWhatIsNoFolder)
{
    open();
    auto out = tree.mkdir("out");
    auto other = tree.mkdir("other");
    auto file = tree.write("a.txt", "a");
    QPlainTextEdit* box = child<QPlainTextEdit>("txtPath");

    drop("txtPath", {out, other});
    EXPECT_EQ(window->pathText(), out.native() + "/");
    EXPECT_EQ(box->toPlainText(), QString::fromStdString(out.native() + "/"));

    drop("txtPath", {file});
    EXPECT_EQ(box->toPlainText(), QStringLiteral("指定されたフォルダは存在しません"));

    drop("txtPath", {tree.root() / "gone"});
    EXPECT_EQ(box->toPlainText(), QStringLiteral("指定されたフォルダは存在しません"));
    EXPECT_TRUE(window->messages.empty());
    EXPECT_EQ(controls(), kIdle);
}

TEST_F(WindowRunTest, OnlyListsOfLocalFilesCanBeDragged)
{
    open();
    QMimeData text;
    text.setText(QStringLiteral("/tmp"));
    EXPECT_FALSE(takesDrag("rtfSorvinfile", text));
    EXPECT_FALSE(takesDrag("txtPath", text));

    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/a.txt"))});
    EXPECT_FALSE(takesDrag("rtfSorvinfile", web));

    QMimeData mixed;
    mixed.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a")), QUrl(QStringLiteral("sftp://host/b"))});
    EXPECT_FALSE(takesDrag("rtfSorvinfile", mixed));

    QMimeData remote;
    remote.setData(QStringLiteral("text/uri-list"), "file://otherhost/srv/a\r\n");
    EXPECT_FALSE(takesDrag("rtfSorvinfile", remote));

    QMimeData empty;
    empty.setData(QStringLiteral("text/uri-list"), "# nothing but a comment\r\n");
    EXPECT_FALSE(takesDrag("rtfSorvinfile", empty));

    // Order is kept; a name that is not UTF-8 arrives byte for byte.
    QMimeData local;
    local.setData(QStringLiteral("text/uri-list"),
                  "# from a file manager\r\nfile:///tmp/b%20c\r\nfile://localhost/tmp/%E5%86%99%FF.jpg\r\n");
    auto paths = window::LocalPaths(&local);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0].native(), "/tmp/b c");
    EXPECT_EQ(paths[1].native(), "/tmp/\xE5\x86\x99\xFF.jpg");
    EXPECT_TRUE(takesDrag("rtfSorvinfile", local));
}

TEST_F(WindowRunTest, SourceDropWithoutADestinationShowsTheMessageAndStaysIdle)
{
    open();
    auto src = tree.write("in/a.txt", "a");
    drop("rtfSorvinfile", {src});
    ASSERT_EQ(window->messages.size(), 1u);
    EXPECT_EQ(window->messages[0].text, QStringLiteral("送り先フォルダが存在しません"));
    EXPECT_EQ(window->messages[0].title, QStringLiteral("sorvin"));
    EXPECT_EQ(window->messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(controls(), kIdle);
    EXPECT_TRUE(std::filesystem::exists(src));

    // A failed destination drop leaves its own text, which is no folder either.
    drop("txtPath", {src});
    drop("rtfSorvinfile", {src});
    EXPECT_EQ(window->messages.size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(src));
}

TEST_F(WindowRunTest, PreparedRunWaitsForTheExecuteButtonAndLogsTheWholeRun)
{
    open();
    auto out = tree.mkdir("out");
    tree.write("out/a.txt", "older and longer");
    auto a = tree.write("in/a.txt", "new");
    auto b = tree.write("in/b.txt", "b");
    auto folder = tree.write("in/sub/c.txt", "c").parent_path();
    drop("txtPath", {out});
    drop("rtfSorvinfile", {a, folder, b});

    EXPECT_EQ(pane(), QStringLiteral("実行準備完了\n実行ボタンを押してください"));
    EXPECT_EQ(controls(), kPrepared);
    EXPECT_EQ(child<QProgressBar>("prgbShinkou")->maximum(), 3);
    action("mnuCRC32")->trigger();  // the menu is locked: nothing can be chosen
    EXPECT_FALSE(action("mnuCRC32")->isChecked());
    EXPECT_TRUE(std::filesystem::exists(a));

    Controls during{};
    int maxSeen = -1;
    window->onYield = [&] {
        during = controls();
        maxSeen = child<QProgressBar>("prgbShinkou")->maximum();
    };
    click("cmdEXEC");
    window->onYield = nullptr;

    EXPECT_EQ(during, kRunning);
    EXPECT_EQ(maxSeen, 3);
    EXPECT_EQ(controls(), kIdle);
    EXPECT_FALSE(window->running());
    EXPECT_EQ(ListTree(out), (std::vector<std::string>{"a.txt", "a_000.txt", "b.txt", "c.txt"}));
    EXPECT_FALSE(std::filesystem::exists(a));

    const QStringList lines = pane().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("処理開始...")));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("処理終了...")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("a_000.txt…Rename後Move-"))) << lines[1].toStdString();
    auto caption = kRunCaption.match(window->windowTitle());
    ASSERT_TRUE(caption.hasMatch()) << window->windowTitle().toStdString();
    EXPECT_EQ(lines.first(), QStringLiteral("処理開始...") + caption.captured(1));
}

TEST_F(WindowRunTest, WithoutTheExecuteOptionADropRunsAtOnceAndASecondDropReplacesTheList)
{
    open();
    action("mnuEB")->trigger();
    auto out = tree.mkdir("out");
    auto a = tree.write("in/a.txt", "a");
    auto b = tree.write("in/b.txt", "b");
    child<QComboBox>("cmbMorC")->setCurrentText(QStringLiteral("コピー"));
    drop("txtPath", {out});
    drop("rtfSorvinfile", {a});
    EXPECT_EQ(ListTree(out), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(std::filesystem::exists(a));  // copied
    EXPECT_EQ(controls(), kIdle);

    drop("rtfSorvinfile", {b});
    EXPECT_EQ(ListTree(out), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(pane().startsWith(QStringLiteral("処理開始...")));
    EXPECT_FALSE(pane().contains(QStringLiteral("a.txt")));
}

TEST_F(WindowRunTest, DestinationAndSourceNamesThatAreNotUtf8ArriveUnchanged)
{
    open();
    action("mnuEB")->trigger();
    auto out = tree.mkdir("out\xFE");
    auto src = tree.write("in/photo\xFF.jpg", "jpeg");
    drop("txtPath", {out});
    EXPECT_EQ(window->pathText(), out.native() + "/");
    drop("rtfSorvinfile", {src});
    EXPECT_EQ(ListTree(out), std::vector<std::string>{"photo\xFF.jpg"});
    EXPECT_EQ(ReadFile(out / "photo\xFF.jpg"), "jpeg");
}

TEST_F(WindowRunTest, StopWhilePreparedTouchesNothing)
{
    open();
    auto out = tree.mkdir("out");
    auto a = tree.write("in/a.txt", "a");
    drop("txtPath", {out});
    drop("rtfSorvinfile", {a});
    click("cmdCancel");

    EXPECT_EQ(pane(), QStringLiteral("…処理中止"));
    EXPECT_TRUE(kRunCaption.match(window->windowTitle()).hasMatch()) << window->windowTitle().toStdString();
    EXPECT_EQ(CancelFlag, 0);
    EXPECT_EQ(controls(), kIdle);
    EXPECT_TRUE(ListTree(out).empty());
    EXPECT_TRUE(std::filesystem::exists(a));
}

TEST_F(WindowRunTest, StopDuringALongCopyLeavesNoPartOfItAndSkipsTheRest)
{
    open();
    action("mnuEB")->trigger();
    child<QComboBox>("cmbMorC")->setCurrentIndex(1);
    auto out = tree.mkdir("out");
    auto big = tree.write("in/big.bin", Bytes(40u << 20));
    auto later = tree.write("in/later.txt", "later");
    drop("txtPath", {out});

    QString captionAtStop;
    window->onYield = [&] {
        // Part way through the copy: the caption shows a percentage above 0.
        QString caption = window->windowTitle();
        if (captionAtStop.isEmpty() && caption.contains(QStringLiteral("% complete")) &&
            !caption.contains(QStringLiteral(" 0% complete"))) {
            captionAtStop = caption;
            pressLater("cmdCancel");
        }
    };
    drop("rtfSorvinfile", {big, later});
    window->onYield = nullptr;

    EXPECT_TRUE(captionAtStop.startsWith(QStringLiteral("big.bin "))) << captionAtStop.toStdString();
    EXPECT_TRUE(ListTree(out).empty());
    EXPECT_EQ(std::filesystem::file_size(big), 40u << 20);
    EXPECT_TRUE(pane().endsWith(QStringLiteral("big.bin…処理中止"))) << pane().toStdString();
    EXPECT_TRUE(kRunCaption.match(window->windowTitle()).hasMatch());
    EXPECT_EQ(CancelFlag, 0);
    EXPECT_EQ(controls(), kIdle);
}

TEST_F(WindowRunTest, StopDuringALongChecksumEndsTheRun)
{
    open();
    action("mnuEB")->trigger();
    action("mnuCRC32")->trigger();
    auto out = tree.mkdir("out");
    const std::string kept = Bytes(8u << 20, 1);
    tree.write("out/same.bin", kept);
    auto same = tree.write("in/same.bin", Bytes(8u << 20, 2));  // same size, other bytes
    auto later = tree.write("in/later.txt", "later");
    drop("txtPath", {out});

    bool stopped = false;
    window->onYield = [&] {
        if (!stopped && window->windowTitle().contains(QStringLiteral("CRC Checking"))) {
            stopped = true;
            pressLater("cmdCancel");
        }
    };
    drop("rtfSorvinfile", {same, later});
    window->onYield = nullptr;

    ASSERT_TRUE(stopped);
    EXPECT_EQ(ListTree(out), std::vector<std::string>{"same.bin"});
    EXPECT_EQ(ReadFile(out / "same.bin"), kept);
    EXPECT_TRUE(std::filesystem::exists(same));
    EXPECT_TRUE(std::filesystem::exists(later));
    EXPECT_TRUE(pane().endsWith(QStringLiteral("…処理中止"))) << pane().toStdString();
    EXPECT_EQ(controls(), kIdle);
}

TEST_F(WindowRunTest, ClosingDuringARunStopsItThenClosesAndSaves)
{
    open();
    action("mnuEB")->trigger();
    child<QComboBox>("cmbMorC")->setCurrentIndex(1);
    auto out = tree.mkdir("out");
    auto big = tree.write("in/big.bin", Bytes(40u << 20));
    drop("txtPath", {out});
    std::filesystem::remove(tree / "sorvin.ini");

    bool asked = false;
    bool openAtTheStoppedEnding = false;
    window->onPaneText = [&](const std::string& text) {
        if (text.ends_with("…処理中止")) openAtTheStoppedEnding = window->isVisible();
    };
    window->onYield = [&] {
        if (!asked && window->windowTitle().contains(QStringLiteral("% complete"))) {
            asked = true;
            QMetaObject::invokeMethod(window.get(), "close", Qt::QueuedConnection);
        }
    };
    drop("rtfSorvinfile", {big});
    window->onYield = nullptr;

    ASSERT_TRUE(asked);
    EXPECT_TRUE(openAtTheStoppedEnding);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(pane().endsWith(QStringLiteral("…処理中止"))) << pane().toStdString();
    EXPECT_TRUE(ListTree(out).empty());
    EXPECT_EQ(std::filesystem::file_size(big), 40u << 20);
    EXPECT_EQ(CancelFlag, 0);
    // Saved at the close: the mode was copy, the execute option off.
    EXPECT_NE(settingsFile().find("\x93\xae\x8d\xec\x83\x82\x81\x5b\x83\x68=copy\r\n"), std::string::npos);
    EXPECT_TRUE(window->messages.empty());
}

}  // namespace
}  // namespace sorvin::test
