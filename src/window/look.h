// The window's font and icon.
#pragma once

#include <QFont>
#include <QIcon>
#include <QLabel>

namespace sorvin::window {

// "ＭＳ Ｐゴシック" where it is installed, otherwise a Japanese Gothic that is.
QFont JapaneseGothic(qreal pointSize);

// The program's own 32 x 32 icon: loose sheets falling into one folder.
QIcon ProgramIcon();

// A label whose lines are one em apart, as in the Windows Gothic fonts the window's
// layout was measured with; the Gothic fonts on Linux space their lines half as much again, which
// would push a second line under the control below.
class TightLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace sorvin::window
