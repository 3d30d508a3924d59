#include <QApplication>

#include <clocale>

#include "fs/posix_fs.h"
#include "window/frm_sorvin.h"
#include "window/look.h"
#include "window/start_up.h"

int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, "");  // the time texts follow the user's locale
    if (auto status = sorvin::window::AnswerWithoutWindow(argc, argv)) return *status;
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    const sorvin::window::StartUp start = sorvin::window::ReadCommandLine(argc, argv);
    if (start.exitStatus) return *start.exitStatus;
    QApplication::setApplicationName(QStringLiteral("sorvin"));
    sorvin::window::LoadJapaneseTranslation(app);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.sorvin.Sorvin"));
    QApplication::setFont(sorvin::window::JapaneseGothic(9));
    QApplication::setWindowIcon(sorvin::window::ProgramIcon());

    sorvin::fs::PosixFs fs;
    sorvin::window::FrmSorvin window(fs);
    if (start.folder) window.destinationDropped({*start.folder});
    window.show();
    return app.exec();
}
