#include "window/look.h"

#include <QFontInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTextLayout>

namespace sorvin::window {

QFont JapaneseGothic(qreal pointSize)
{
    QFont font;
    font.setFamilies({
        QStringLiteral("ＭＳ Ｐゴシック"),
        QStringLiteral("MS PGothic"),
        QStringLiteral("Noto Sans CJK JP"),
        QStringLiteral("IPAPGothic"),
        QStringLiteral("VL PGothic"),
        QStringLiteral("Takao PGothic"),
    });
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

void LoadJapaneseTranslation(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

QIcon ProgramIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // Two sheets, tilted towards the folder's mouth.
    auto sheet = [&](qreal x, qreal y, qreal angle, QColor fill) {
        p.save();
        p.translate(x, y);
        p.rotate(angle);
        p.setPen(QPen(QColor(70, 70, 70), 1));
        p.setBrush(fill);
        p.drawRect(QRectF(-4.5, -6, 9, 12));
        p.setPen(QPen(QColor(150, 150, 150), 1));
        p.drawLine(QPointF(-2.5, -2.5), QPointF(2.5, -2.5));
        p.drawLine(QPointF(-2.5, 0.5), QPointF(2.5, 0.5));
        p.restore();
    };
    sheet(9, 8, -20, QColor(255, 255, 255));
    sheet(22, 7, 18, QColor(255, 246, 214));

    // The folder: back with its tab, then the front flap.
    QPainterPath back;
    back.moveTo(3, 15);
    back.lineTo(11, 15);
    back.lineTo(13, 17);
    back.lineTo(29, 17);
    back.lineTo(29, 29);
    back.lineTo(3, 29);
    back.closeSubpath();
    p.setPen(QPen(QColor(150, 95, 10), 1));
    p.setBrush(QColor(230, 160, 40));
    p.drawPath(back);

    QPainterPath front;
    front.moveTo(2, 20);
    front.lineTo(30, 20);
    front.lineTo(28, 29);
    front.lineTo(4, 29);
    front.closeSubpath();
    p.setBrush(QColor(250, 200, 80));
    p.drawPath(front);

    // The arrow into the folder.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 200));
    QPolygonF arrow({QPointF(14, 2), QPointF(18, 2), QPointF(18, 11), QPointF(21.5, 11),
                     QPointF(16, 18), QPointF(10.5, 11), QPointF(14, 11)});
    p.drawPolygon(arrow);
    p.end();
    return QIcon(pixmap);
}

void TightLabel::paintEvent(QPaintEvent*)
{
    QTextLayout layout(text(), font());
    QTextOption option(alignment());
    option.setWrapMode(wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);

    const qreal em = QFontInfo(font()).pixelSize();
    const qreal ascent = QFontMetricsF(font()).ascent();
    layout.beginLayout();
    // Each line's ideographic em box (baseline 0.12 em above its bottom) fills its one em of height.
    for (int i = 0;; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width());
        line.setPosition(QPointF(0, (i + 1) * em - 0.12 * em - ascent));
    }
    layout.endLayout();

    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    layout.draw(&painter, QPointF(0, 0));
}

}  // namespace sorvin::window
