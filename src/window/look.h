// The window's font, icon and language.
#pragma once

#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>

namespace sorvin::window {

// "ＭＳ Ｐゴシック" where it is installed, otherwise a Japanese Gothic that is.
QFont JapaneseGothic(qreal pointSize);

// Qt's own words (text boxes' context menus, message box buttons) in Japanese, whatever the
// locale, like everything else the window says. Quietly English where the translation is missing.
void LoadJapaneseTranslation(QCoreApplication& app);

// The program's own 32 x 32 icon: loose sheets falling into one folder.
QIcon ProgramIcon();

// A label whose lines are one em apart, as the window's layout assumes; the Gothic fonts found on
// Linux space their lines half as much again, which would push a second line under the control
// below.
class TightLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace sorvin::window
