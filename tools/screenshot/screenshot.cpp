// Shows the window as a person sees it: one picture of the empty window, then one after a run
// that gathered a small prepared tree. scripts/screenshot builds and runs this under Xvfb.
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include <clocale>
#include <cstdio>
#include <fstream>

#include "fs/posix_fs.h"
#include "window/drop_box.h"
#include "window/frm_sorvin.h"
#include "window/look.h"

namespace {

void Settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Write(const QString& path, const std::string& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

void Drop(QWidget* box, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QWidget* target = static_cast<QAbstractScrollArea*>(box)->viewport();
    QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

bool Save(QWidget& window, const QString& file)
{
    if (window.grab().save(file)) return true;
    std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    QDir out(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    QApplication::setFont(sorvin::window::JapaneseGothic(9));

    // A folder of its own, so the settings file it reads and writes is a fresh default one.
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const QString dst = work.filePath(QStringLiteral("まとめ"));
    QDir().mkpath(dst);
    Write(dst + "/memo.txt", "already here");
    Write(work.filePath("in/memo.txt"), "a longer memo than the one already there");
    Write(work.filePath("in/写真001.jpg"), std::string(20000, 'j'));
    Write(work.filePath("in/資料/report.pdf"), std::string(5000, 'p'));
    Write(work.filePath("in/資料/data.csv"), "a,b\n1,2\n");

    sorvin::fs::PosixFs fs;
    sorvin::window::FrmSorvin window(fs);
    window.show();
    Settle(500);
    if (!Save(window, out.filePath("window.png"))) return 1;

    window.findChild<QComboBox*>("cmbMorC")->setCurrentIndex(1);  // コピー
    Drop(window.findChild<QWidget*>("txtPath"), {QUrl::fromLocalFile(dst)});
    Drop(window.findChild<QWidget*>("rtfSorvinfile"),
         {QUrl::fromLocalFile(work.filePath("in/memo.txt")),
          QUrl::fromLocalFile(work.filePath("in/写真001.jpg")),
          QUrl::fromLocalFile(work.filePath("in/資料"))});
    Settle(200);
    window.findChild<QPushButton*>("cmdEXEC")->click();
    window.resize(420, 330);  // room for the whole log
    Settle(500);
    if (window.running()) {
        std::fprintf(stderr, "the run did not end\n");
        return 1;
    }
    if (!Save(window, out.filePath("window-after-run.png"))) return 1;
    std::printf("%s\n", qPrintable(window.windowTitle()));
    window.close();
    return 0;
}
