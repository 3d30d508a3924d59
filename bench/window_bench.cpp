// What the window costs a run, offscreen: the run of 20,000 small files with the window's
// per-file caption and pane updates against the same run with those two updates left out, and
// the time the pane takes to show a 100,000-line log at the end of a run. Prints one JSON object.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fs/posix_fs.h"
#include "window/frm_sorvin.h"
#include "window/settings.h"

namespace stdfs = std::filesystem;
using sorvin::window::FrmSorvin;

namespace {

// The same window with the per-file updates left out: the cost of everything else.
class QuietWindow final : public FrmSorvin {
public:
    using FrmSorvin::FrmSorvin;
    void setPaneText(const std::string&) override {}
    void setCaption(const std::string&) override {}
};

void MakeFiles(const stdfs::path& root, int count)
{
    std::string bytes(16 * 1024, 'x');
    for (int i = 0; i < count; ++i) {
        const stdfs::path folder = root / ("d" + std::to_string(i % 200));
        stdfs::create_directories(folder);
        std::ofstream(folder / ("f" + std::to_string(i) + ".bin"), std::ios::binary)
            .write(bytes.data(), 1024 + (i * 7919) % (15 * 1024));
    }
}

// A drop of local files, as a file manager makes it.
void Drop(FrmSorvin& window, const char* box, const stdfs::path& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.native()))});
    QWidget* target = window.findChild<QAbstractScrollArea*>(box)->viewport();
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

double Seconds(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e9; }

// One copy run of `src` into a fresh folder, dropped on the window as a user would.
double TimedRun(FrmSorvin& window, const stdfs::path& src, const stdfs::path& dst)
{
    stdfs::remove_all(dst);
    stdfs::create_directories(dst);
    Drop(window, "txtPath", dst);
    QElapsedTimer timer;
    timer.start();
    Drop(window, "rtfSorvinfile", src);
    do QCoreApplication::processEvents(); while (window.running());
    return Seconds(timer);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const stdfs::path work = argc > 1 ? stdfs::path(argv[1]) : stdfs::temp_directory_path() / "sorvin-window-bench";
    const int files = argc > 2 ? std::stoi(argv[2]) : 20000;
    const int repeats = argc > 3 ? std::stoi(argv[3]) : 3;
    stdfs::create_directories(work);
    stdfs::current_path(work);

    // The options a run starts at once with, in copy mode, so every repetition has the same sources.
    sorvin::window::Settings settings;
    settings.copy = true;
    settings.execButton = false;
    sorvin::window::SaveSettings(sorvin::window::kSettingsFileName, settings);

    sorvin::fs::PosixFs fs;
    FrmSorvin shown(fs);
    QuietWindow quiet(fs);
    shown.show();
    quiet.show();
    MakeFiles(work / "src", files);

    std::vector<double> withUpdates, withoutUpdates;
    // Each goes first in turn, from written-back pages: the second of a pair would otherwise pay
    // for the first one's dirty pages.
    for (int i = 0; i < repeats; ++i) {
        for (int k = 0; k < 2; ++k) {
            const bool updates = (i + k) % 2 == 0;
            ::sync();
            (updates ? withUpdates : withoutUpdates).push_back(TimedRun(updates ? shown : quiet, work / "src", work / "dst"));
        }
    }

    // A log of 100,000 lines, as the end of a long run puts it into the pane.
    std::string log = "処理開始...14:03:09";
    for (int i = 0; i < 100000; ++i)
        log += "\r\n/home/user/写真/2026/カード" + std::to_string(i % 50) + "/IMG_" + std::to_string(i) + ".JPG…Rename後Move-14:03:09";
    log += "\r\n処理終了...14:03:27";
    std::vector<double> paneTimes;
    for (int i = 0; i < repeats; ++i) {
        shown.setPaneText("");
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        shown.setPaneText(log);
        shown.repaint();
        QCoreApplication::processEvents();
        paneTimes.push_back(Seconds(timer));
    }

    stdfs::remove_all(work / "src");
    stdfs::remove_all(work / "dst");
    std::printf("{\"files\": %d, \"run_with_updates\": %.4f, \"run_without_updates\": %.4f, \"pane_100k_lines\": %.4f}\n",
                files, Median(withUpdates), Median(withoutUpdates), Median(paneTimes));
    return 0;
}
