#include <QApplication>

#include <clocale>

#include "fs/posix_fs.h"
#include "window/frm_sorvin.h"
#include "window/look.h"

int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, "");  // the time texts follow the user's locale
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sorvin"));
    sorvin::window::LoadJapaneseTranslation(app);
    QApplication::setFont(sorvin::window::JapaneseGothic(9));
    QApplication::setWindowIcon(sorvin::window::ProgramIcon());

    sorvin::fs::PosixFs fs;
    sorvin::window::FrmSorvin window(fs);
    window.show();
    return app.exec();
}
