#include "window/frm_sorvin.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "run/driver.h"
#include "run/undo.h"
#include "shared/run.h"
#include "shared/text.h"
#include "window/drop_box.h"
#include "window/look.h"
#include "window/settings.h"

namespace sorvin::window {

namespace {

// A focused button pressed with Enter or Return acts as with Space, as people expect of buttons.
class PushButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            animateClick();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// Positions and sizes are kept in twips, 15 to a pixel at 96 dpi.
int Px(int twips) { return qRound(twips / 15.0); }
QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

// The resize rule works on the outer size of the window: the client area plus a fixed allowance
// for a sizable border and a caption. Taking that allowance as fixed rather than asking the
// window manager keeps the layout the same under every window manager, and with none.
constexpr int kBorderWidth = 120;
constexpr int kBorderHeight = 410;
constexpr int kMinOuterWidth = 4320;
constexpr int kMinOuterHeight = 4100;
constexpr int kClientWidth = 4200;
constexpr int kClientHeight = 3690;

const QString kMove = QStringLiteral("移動");
const QString kCopy = QStringLiteral("コピー");

QString Qs(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

}  // namespace

FrmSorvin::FrmSorvin(fs::FileSystem& fs, QWidget* parent)
    : QWidget(parent), disk_(fs), fs_(fs, [this](const std::string&) { journalFailed_ = true; })
{
    setObjectName(QStringLiteral("frmSorvin"));
    // 11 pixels rather than the 12 of the log pane: the labels were measured for a font with
    // narrower kana than any Japanese Gothic a Linux system has.
    setFont(JapaneseGothic(8.25));
    setWindowIcon(ProgramIcon());
    buildControls();
    buildMenu();
    setMinimumSize(Px(kMinOuterWidth - kBorderWidth), Px(kMinOuterHeight - kBorderHeight));
    resize(Px(kClientWidth), Px(kClientHeight));

    // Start-up: the built-in defaults first, then whatever the settings file says.
    CancelFlag = 0;
    mnuNumPosition->setChecked(false);
    mnuCRC32->setChecked(false);
    mnuGenmitsu->setChecked(false);
    chkFolderKeep->setChecked(false);
    cmbMorC->setCurrentIndex(0);
    mnuEB->setChecked(true);
    mnuErrMushi->setChecked(false);
    mnuPreview->setChecked(false);
    captionText_ = kWindowCaption;
    setWindowTitle(Qs(kWindowCaption));
    if (auto settings = LoadSettings(kSettingsFileName)) applySettings(*settings);
}

FrmSorvin::~FrmSorvin() = default;

void FrmSorvin::buildControls()
{
    lblTo = new TightLabel(QStringLiteral("↓ここに送り先のフォルダをDropしてください"), this);
    lblTo->setObjectName(QStringLiteral("lblTo"));
    lblTo->setGeometry(TwipsRect(360, 120, 3375, 255));

    txtPath = new DropBox(this);
    txtPath->setObjectName(QStringLiteral("txtPath"));
    txtPath->setGeometry(TwipsRect(360, 360, 3375, 975));
    txtPath->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtPath->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtPath->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    txtPath->setTabChangesFocus(true);
    txtPath->onDrop([this](const auto& paths) { destinationDropped(paths); });

    lblFiles1 = new TightLabel(QStringLiteral("↓ここに"), this);
    lblFiles1->setObjectName(QStringLiteral("lblFiles1"));
    lblFiles1->setGeometry(TwipsRect(360, 1440, 855, 375));

    cmbMorC = new QComboBox(this);
    cmbMorC->setObjectName(QStringLiteral("cmbMorC"));
    cmbMorC->setGeometry(TwipsRect(1080, 1390, 855, 300));
    cmbMorC->setEditable(true);
    cmbMorC->setInsertPolicy(QComboBox::NoInsert);
    cmbMorC->addItems({kMove, kCopy});
    // The mode is an item, never free text: typed text that names neither gives way to the chosen
    // item's when the editing ends, so what the box shows is what a run does.
    connect(cmbMorC->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { cmbMorC->setEditText(cmbMorC->itemText(cmbMorC->currentIndex())); });

    // The ideographic spaces push "Dropしてください" onto the second line.
    lblFiles2 = new TightLabel(QStringLiteral("したいファイル/フォルダを　　　　　　　Dropしてください"), this);
    lblFiles2->setObjectName(QStringLiteral("lblFiles2"));
    lblFiles2->setGeometry(TwipsRect(2040, 1440, 2535, 495));
    lblFiles2->setWordWrap(true);

    rtfSorvinfile = new DropBox(this);
    rtfSorvinfile->setObjectName(QStringLiteral("rtfSorvinfile"));
    rtfSorvinfile->setGeometry(TwipsRect(360, 1800, 3375, 1095));
    rtfSorvinfile->setFont(JapaneseGothic(9));
    rtfSorvinfile->setReadOnly(true);
    rtfSorvinfile->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    rtfSorvinfile->setUndoRedoEnabled(false);
    rtfSorvinfile->setTabChangesFocus(true);
    rtfSorvinfile->onDrop([this](const auto& paths) { sourcesDropped(paths); });

    cmdEXEC = new PushButton(QStringLiteral("実行"), this);
    cmdEXEC->setObjectName(QStringLiteral("cmdEXEC"));
    cmdEXEC->setGeometry(TwipsRect(240, 3000, 615, 375));
    cmdEXEC->setEnabled(false);
    connect(cmdEXEC, &QPushButton::clicked, this, [this] { execClicked(); });

    cmdCancel = new PushButton(QStringLiteral("中止"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(TwipsRect(960, 3000, 615, 375));
    cmdCancel->setEnabled(false);
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cancelClicked(); });

    chkFolderKeep = new QCheckBox(QStringLiteral("フォルダ構造を維持する"), this);
    chkFolderKeep->setObjectName(QStringLiteral("chkFolderKeep"));
    chkFolderKeep->setGeometry(TwipsRect(1800, 3000, 2535, 255));

    prgbShinkou = new QProgressBar(this);
    prgbShinkou->setObjectName(QStringLiteral("prgbShinkou"));
    prgbShinkou->setGeometry(TwipsRect(0, 3435, 4200, 255));
    prgbShinkou->setRange(0, 100);
    prgbShinkou->setValue(0);
    prgbShinkou->setTextVisible(false);
    prgbShinkou->setToolTip(QStringLiteral("進行状況"));
    prgbShinkou->setVisible(false);

    for (QLabel* label : {lblTo, lblFiles1, lblFiles2}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // A label keeps its place but may run wider than designed, to the window's right edge at
        // the smallest size, so that no text is cut off.
        if (!label->wordWrap()) {
            int room = Px(kMinOuterWidth - kBorderWidth) - label->x();
            label->resize(std::clamp(label->sizeHint().width(), label->width(), room), label->height());
        }
    }
    for (QWidget* passive : {static_cast<QWidget*>(lblTo), static_cast<QWidget*>(lblFiles1),
                             static_cast<QWidget*>(lblFiles2), static_cast<QWidget*>(prgbShinkou)})
        passive->setFocusPolicy(Qt::NoFocus);
    setTabOrder(txtPath, rtfSorvinfile);
    setTabOrder(rtfSorvinfile, chkFolderKeep);
    setTabOrder(chkFolderKeep, cmbMorC);
    setTabOrder(cmbMorC, cmdEXEC);
    setTabOrder(cmdEXEC, cmdCancel);
}

void FrmSorvin::buildMenu()
{
    mnuPopup = new QMenu(QStringLiteral("ポップアップ"), this);
    mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    mnuPopup->setFont(font());
    auto item = [this](const char* name, const QString& caption) {
        QAction* action = mnuPopup->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setCheckable(true);
        return action;
    };
    mnuEB = item("mnuEB", QStringLiteral("実行ボタンを使う"));
    mnuNumPosition = item("mnuNumPosition", QStringLiteral("連番を拡張子の後ろに付ける"));
    mnuCRC32 = item("mnuCRC32", QStringLiteral("CRC32を使用する(遅い)"));
    mnuGenmitsu = item("mnuGenmitsu", QStringLiteral("全ての同名ファイルをチェックする（遅い）"));
    mnuErrMushi = item("mnuErrMushi", QStringLiteral("書き込みエラー以外を無視する"));
    mnuPreview = item("mnuPreview", QStringLiteral("実行前に結果を確認する"));
    for (QAction* holds : {mnuEB, mnuPreview}) connect(holds, &QAction::toggled, this, [this] { showExecButton(); });
    mnuPopup->addSeparator();
    mnuUndo = mnuPopup->addAction(QStringLiteral("直前の処理を元に戻す"));
    mnuUndo->setObjectName(QStringLiteral("mnuUndo"));
    connect(mnuUndo, &QAction::triggered, this, &FrmSorvin::undoClicked);
}

void FrmSorvin::layOut()
{
    if (isMinimized()) return;
    int outerWidth = width() * 15 + kBorderWidth;
    int outerHeight = height() * 15 + kBorderHeight;
    if (outerWidth < kMinOuterWidth || outerHeight < kMinOuterHeight) {
        outerWidth = std::max(outerWidth, kMinOuterWidth);
        outerHeight = std::max(outerHeight, kMinOuterHeight);
        resize(Px(outerWidth - kBorderWidth), Px(outerHeight - kBorderHeight));
    }
    txtPath->resize(Px(outerWidth - 850), txtPath->height());
    rtfSorvinfile->resize(Px(outerWidth - 850), Px(outerHeight - 3025));
    chkFolderKeep->move(chkFolderKeep->x(), Px(outerHeight - 1125));
    cmdEXEC->move(cmdEXEC->x(), Px(outerHeight - 1175));
    cmdCancel->move(cmdCancel->x(), Px(outerHeight - 1175));
    prgbShinkou->setGeometry(0, height() - prgbShinkou->height(), width(), prgbShinkou->height());
}

void FrmSorvin::applySettings(const Settings& s)
{
    mnuNumPosition->setChecked(s.numPositionBottom);
    mnuCRC32->setChecked(s.crc32);
    mnuGenmitsu->setChecked(s.genmitsu);
    chkFolderKeep->setChecked(s.folderKeep);
    cmbMorC->setCurrentIndex(s.copy ? 1 : 0);
    mnuEB->setChecked(s.execButton);
    mnuErrMushi->setChecked(s.errMushi);
    mnuPreview->setChecked(s.preview);
    showExecButton();
    cmdEXEC->setEnabled(false);
}

Settings FrmSorvin::currentSettings() const
{
    Settings s;
    s.numPositionBottom = mnuNumPosition->isChecked();
    s.crc32 = mnuCRC32->isChecked();
    s.genmitsu = mnuGenmitsu->isChecked();
    s.folderKeep = chkFolderKeep->isChecked();
    s.copy = mode() == GatherMode::Copy;
    s.execButton = mnuEB->isChecked();
    s.errMushi = mnuErrMushi->isChecked();
    s.preview = mnuPreview->isChecked();
    return s;
}

void FrmSorvin::saveSettings()
{
    if (auto failure = SaveSettings(kSettingsFileName, currentSettings()))
        message(*failure, MessageTitle::Application, MessageIcon::Exclamation);
}

// Drops and buttons --------------------------------------------------------------------------

void FrmSorvin::destinationDropped(const std::vector<std::filesystem::path>& paths)
{
    if (paths.empty()) return;
    const auto folder = run::DestinationDrop(fs_, paths.front());
    // A drop that names no folder says so in the box, with no destination behind the words.
    pathBytes_ = folder.value_or("");
    pathShown_ = folder ? Qs(DisplayText(*folder)) : QStringLiteral("指定されたフォルダは存在しません");
    txtPath->setPlainText(pathShown_);
}

void FrmSorvin::sourcesDropped(const std::vector<std::filesystem::path>& paths)
{
    // The run starts once the drop has returned, so the file manager is told at once that its drag
    // is over instead of waiting for the whole run.
    if (sourceDropQueued_) return;
    sourceDropQueued_ = true;
    QTimer::singleShot(0, this, [this, paths] {
        sourceDropQueued_ = false;
        if (!closed_)
            duringRun([&] {
                if (run::SourceDrop(run_, *this, fs_, paths) == run::DropOutcome::Prepared && mnuPreview->isChecked())
                    lockForPreview(true);
            });
        afterRun();
    });
}

void FrmSorvin::execClicked()
{
    duringRun([this] { run::ExecuteClick(run_, *this, fs_); });
    lockForPreview(false);
    afterRun();
}

void FrmSorvin::cancelClicked()
{
    const bool prepared = cmdEXEC->isEnabled();
    run::CancelClick(run_, *this, fs_);
    if (prepared) lockForPreview(false);
}

void FrmSorvin::showExecButton() { cmdEXEC->setVisible(mnuEB->isChecked() || mnuPreview->isChecked()); }

void FrmSorvin::lockForPreview(bool locked)
{
    cmbMorC->setEnabled(!locked);
    chkFolderKeep->setEnabled(!locked);
    txtPath->setReadOnly(locked);
}

void FrmSorvin::undoClicked()
{
    if (!running_) duringRun([this] { run::RunUndo(*this, disk_, false); });
    afterRun();
}

void FrmSorvin::duringRun(const std::function<void()>& run)
{
    running_ = true;
    journalFailed_ = false;
    run();
    fs_.endRun();
    running_ = false;
    showPending(true);  // the run's last texts, held back while it ran
}

void FrmSorvin::afterRun()
{
    if (closeWhenStopped_) {
        closeWhenStopped_ = false;
        close();
    }
}

// Window --------------------------------------------------------------------------------------

bool FrmSorvin::checked(MenuOption option) const
{
    switch (option) {
    case MenuOption::ExecButton: return mnuEB->isChecked();
    case MenuOption::NumPosition: return mnuNumPosition->isChecked();
    case MenuOption::Crc32: return mnuCRC32->isChecked();
    case MenuOption::Genmitsu: return mnuGenmitsu->isChecked();
    case MenuOption::ErrMushi: return mnuErrMushi->isChecked();
    case MenuOption::Preview: return mnuPreview->isChecked();
    }
    return false;
}

bool FrmSorvin::folderKeep() const { return chkFolderKeep->isChecked(); }

GatherMode FrmSorvin::mode() const
{
    // The item the text names, or, while typed text names none, the item chosen.
    int item = cmbMorC->findText(cmbMorC->currentText());
    if (item < 0) item = cmbMorC->currentIndex();
    return item == 1 ? GatherMode::Copy : GatherMode::Move;
}

std::string FrmSorvin::pathText() const
{
    QString shown = txtPath->toPlainText();
    if (shown == pathShown_) return pathBytes_;
    return QFile::encodeName(shown).toStdString();  // typed by the user
}

// A run rewrites the pane and the caption for every file, and drawing them costs more than
// gathering a small file; so a run shows them at most ten times a second, which still reads as
// live, and its last texts always.
void FrmSorvin::setPaneText(const std::string& text)
{
    pendingPane_ = text;
    showPending(false);
}

void FrmSorvin::setCaption(const std::string& text)
{
    captionText_ = text;
    captionPending_ = true;
    showPending(false);
}

std::string FrmSorvin::caption() const { return captionText_; }

void FrmSorvin::showPending(bool now)
{
    constexpr qint64 kShowEveryMs = 100;
    if (running_ && !now && lastShown_.isValid() && lastShown_.elapsed() < kShowEveryMs) return;
    if (pendingPane_) {
        rtfSorvinfile->setPlainText(Qs(*pendingPane_));
        pendingPane_.reset();
    }
    if (captionPending_) {
        setWindowTitle(Qs(captionText_));
        captionPending_ = false;
    }
    lastShown_.start();
}

void FrmSorvin::setProgressValue(int value) { prgbShinkou->setValue(value); }

void FrmSorvin::setProgressMax(int max) { prgbShinkou->setMaximum(max); }

void FrmSorvin::setProgressVisible(bool visible) { prgbShinkou->setVisible(visible); }

void FrmSorvin::setCancelEnabled(bool enabled) { cmdCancel->setEnabled(enabled); }

void FrmSorvin::setExecEnabled(bool enabled) { cmdEXEC->setEnabled(enabled); }

bool FrmSorvin::execEnabled() const { return cmdEXEC->isEnabled(); }

void FrmSorvin::setDropMode(DropTarget target, DropMode mode)
{
    (target == DropTarget::Path ? txtPath : rtfSorvinfile)->setTakesDrops(mode == DropMode::Take);
}

void FrmSorvin::setMenuEnabled(bool enabled)
{
    mnuPopup->setEnabled(enabled);
    for (QAction* action : mnuPopup->actions()) action->setEnabled(enabled);
}

void FrmSorvin::message(const std::string& text, MessageTitle title, MessageIcon icon)
{
    showMessage(Qs(text), QString::fromUtf8(TitleText(title)),
                icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
}

void FrmSorvin::yield()
{
    showPending(false);
    QCoreApplication::processEvents();
}

void FrmSorvin::showMessage(const QString& text, const QString& title, QMessageBox::Icon icon)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.setFont(font());
    raise();
    activateWindow();
    box.exec();
}

// Events --------------------------------------------------------------------------------------

void FrmSorvin::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOut();
}

void FrmSorvin::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Nothing is laid out while minimized, so the restored window catches up here.
    if (event->type() == QEvent::WindowStateChange) layOut();
}

void FrmSorvin::mousePressEvent(QMouseEvent* event)
{
    // Only the window's own surface opens the menu; a press on a control that passed it on does not.
    if (event->button() == Qt::RightButton && !childAt(event->position().toPoint())) {
        // Idle, and the last run kept its journal: there is something to take back.
        mnuUndo->setEnabled(mnuPopup->isEnabled() && !running_ && !journalFailed_ && run::RunToUndo());
        mnuPopup->popup(event->globalPosition().toPoint());
    }
    QWidget::mousePressEvent(event);
}

void FrmSorvin::closeEvent(QCloseEvent* event)
{
    if (running_) {
        // Closing during a run is a press of 中止; the window goes once the run has stopped.
        event->ignore();
        closeWhenStopped_ = true;
        if (cmdCancel->isEnabled()) cancelClicked();
        return;
    }
    if (!closed_) saveSettings();
    closed_ = true;
    event->accept();
}

}  // namespace sorvin::window
