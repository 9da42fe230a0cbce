#include "platform/uifont.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>

namespace UiFont {

namespace {
QStringList gothicFamilies()
{
    return { QStringLiteral("MS UI Gothic"), QStringLiteral("ＭＳ Ｐゴシック"),
             QStringLiteral("MS PGothic"),   QStringLiteral("IPAPGothic"),
             QStringLiteral("IPAexGothic"),  QStringLiteral("Noto Sans CJK JP"),
             QStringLiteral("IPAGothic") };
}
} // namespace

void applyDefault()
{
    QFont font = QApplication::font();
    QStringList families = gothicFamilies();
    families.append(font.families());
    font.setFamilies(families);
    font.setPointSize(9);
    QApplication::setFont(font);
}

QFont gothic(double points, bool bold)
{
    QFont font;
    QStringList families = gothicFamilies();
    families.removeFirst(); // the design names the proportional "ＭＳ Ｐゴシック" first
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void fitToWidth(QLabel *label)
{
    QFont font = label->font();
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    const auto widest = [&](const QFont &f) {
        const QFontMetrics metrics(f);
        int w = 0;
        for (const QString &line : lines)
            w = qMax(w, metrics.horizontalAdvance(line));
        return w;
    };
    while (font.pointSizeF() > 8.0 && widest(font) > label->width()) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    label->setFont(font);
}

} // namespace UiFont
