#include "app/BookListLayout.h"

#include "engine/CatalogueSchema.h"

namespace zeplo {

namespace {

Printable text(const QString &name, const QString &caption, double left, double top, double width, double height,
               const ReportFont &font)
{
    Printable p;
    p.name = name;
    p.kind = PrintableKind::Text;
    p.content = caption;
    p.left = left;
    p.top = top;
    p.width = width;
    p.height = height;
    p.font = font;
    return p;
}

// A column of the row, named as the layout names it: with a capital letter.
Printable bound(const QString &name, schema::Position column, double left, const ReportFont &font)
{
    QString field = schema::columnName(column);
    field[0] = field[0].toUpper();
    // No design width: a bound text is always as wide as the row's value.
    Printable p = text(name, field, left, 0, 0, 45.0, font);
    p.kind = PrintableKind::BoundText;
    return p;
}

Printable system(const QString &name, PrintableKind kind, double left, double top, double width,
                 const ReportFont &font)
{
    Printable p = text(name, QString(), left, top, width, 45.0, font);
    p.kind = kind;
    return p;
}

ReportBand band(const QString &name, BandKind kind, double height)
{
    ReportBand b;
    b.name = name;
    b.kind = kind;
    b.height = height;
    b.width = 1899.7;
    return b;
}

} // namespace

ReportLayout bookListLayout()
{
    const QColor ink = windowTextColor();
    const QString arial = QStringLiteral("Arial");
    const ReportFont reportFont{arial, 10, false, ink};
    const ReportFont heading{arial, 10, true, ink};

    ReportLayout layout;
    layout.page.font = reportFont;

    ReportBand title = band(QStringLiteral("QRBand1"), BandKind::Title, 219.6);
    Printable caption = text(QStringLiteral("QRLabel1"), QStringLiteral("Databáze knih"), 661.5, 84.7, 574.1, 100.5,
                             ReportFont{arial, 24, true, ink});
    caption.alignment = PrintableAlignment::Center;
    caption.alignToBand = true;
    title.printables.push_back(caption);
    title.printables.push_back(
        text(QStringLiteral("QRLabel2"), QStringLiteral("Vytištěno dne:"), 1354.7, 21.2, 224.9, 45.0, reportFont));
    title.printables.push_back(
        system(QStringLiteral("QRSysData1"), PrintableKind::SystemDate, 1608.7, 21.2, 172.0, reportFont));

    ReportBand header = band(QStringLiteral("QRBand2"), BandKind::ColumnHeader, 169.33);
    header.printables.push_back(
        text(QStringLiteral("QRLabel3"), QStringLiteral("Název"), 656.2, 84.7, 105.8, 45.0, heading));
    header.printables.push_back(
        text(QStringLiteral("QRLabel4"), QStringLiteral("Žánr"), 1296.5, 84.7, 76.7, 45.0, heading));
    header.printables.push_back(
        text(QStringLiteral("QRLabel5"), QStringLiteral("Autor"), 21.2, 84.7, 92.6, 45.0, heading));
    header.printables.push_back(
        text(QStringLiteral("QRLabel6"), QStringLiteral("Rok vydání"), 1587.5, 84.7, 187.9, 45.0, heading));
    header.printables.push_back(
        text(QStringLiteral("QRLabel9"), QStringLiteral("Strana číslo:"), 21.2, 21.2, 195.8, 45.0, reportFont));
    header.printables.push_back(
        system(QStringLiteral("QRSysData2"), PrintableKind::SystemPageNumber, 232.8, 21.2, 21.2, reportFont));
    Printable line;
    line.name = QStringLiteral("QRShape1");
    line.kind = PrintableKind::Shape;
    line.left = 21.2;
    line.top = 127.0;
    line.width = 1865.3;
    line.height = 45.0;
    line.autoSize = false;
    header.printables.push_back(line);

    ReportBand detail = band(QStringLiteral("QRBand3"), BandKind::Detail, 42.33);
    detail.printables.push_back(bound(QStringLiteral("QRDBText1"), schema::Title, 656.2, reportFont));
    detail.printables.push_back(bound(QStringLiteral("QRDBText2"), schema::Genre, 1296.5, reportFont));
    detail.printables.push_back(bound(QStringLiteral("QRDBText3"), schema::Author, 21.2, reportFont));
    detail.printables.push_back(bound(QStringLiteral("QRDBText4"), schema::Published, 1629.8, reportFont));

    ReportBand summary = band(QStringLiteral("QRBand4"), BandKind::Summary, 211.67);
    summary.printables.push_back(text(QStringLiteral("QRLabel10"),
                                      QStringLiteral("Vytištěno v programu Dubrex - Zeplo v1.1"), 1227.7, 169.3,
                                      666.7, 45.0, ReportFont{arial, 8, false, ink}));
    summary.printables.push_back(text(QStringLiteral("QRLabel11"), QStringLiteral("Celkový počet knih v seznamu:"),
                                      1100.7, 105.8, 521.2, 45.0, heading));
    summary.printables.push_back(system(QStringLiteral("QRSysData3"), PrintableKind::SystemDetailCount, 1735.7,
                                        105.8, 21.2, ReportFont{arial, 10, true, QColor(Qt::red)}));

    layout.bands = {title, header, detail, summary};
    return layout;
}

} // namespace zeplo
