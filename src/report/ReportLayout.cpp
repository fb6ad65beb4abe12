#include "report/ReportLayout.h"

#include <QGuiApplication>
#include <QPalette>

#include <cmath>

namespace zeplo {

std::array<double, 7> PageSettings::geometry() const
{
    return {bottomMargin, paperLength, topMargin, paperWidth, leftMargin, rightMargin, columnSpacing};
}

int ReportBand::advance() const
{
    return static_cast<int>(std::lround(height));
}

const ReportBand *ReportLayout::band(BandKind kind) const
{
    for (const ReportBand &b : bands)
        if (b.kind == kind)
            return &b;
    return nullptr;
}

const ReportBand *ReportLayout::band(const QString &name) const
{
    for (const ReportBand &b : bands)
        if (b.name == name)
            return &b;
    return nullptr;
}

const Printable *ReportLayout::printable(const QString &name) const
{
    for (const ReportBand &b : bands)
        for (const Printable &p : b.printables)
            if (p.name == name)
                return &p;
    return nullptr;
}

QColor windowTextColor()
{
    // Paper is white whatever the screen's theme: a light text colour would
    // print invisibly.
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        const QColor c = QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
        if (c.isValid() && c.lightness() < 128)
            return c;
    }
    return Qt::black;
}

} // namespace zeplo
