#include "PreviewDriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cmath>

#include "report/EmfWriter.h"
#include "report/ReportOutput.h"
#include "widgets/PrintProgressWindow.h"

using namespace zeplo;

QByteArray a4Page(const QString &mark, QSizeF paperMm)
{
    const int dpi = screenDpi();
    const QSize pixels(int(std::lround(paperMm.width() * dpi / 25.4)), int(std::lround(paperMm.height() * dpi / 25.4)));
    EmfCanvas canvas(pixels, dpi);
    canvas.setFont(ReportFont{});
    canvas.drawText(QPoint(40, 40), mark);
    canvas.drawLine(QPoint(10, 10), QPoint(pixels.width() - 10, 10));
    return canvas.finish();
}

std::shared_ptr<PageStore> finishedStore(int pages, QSizeF paperMm)
{
    auto store = std::make_shared<PageStore>();
    store->begin();
    for (int i = 1; i <= pages; ++i)
        store->appendPage(a4Page(QStringLiteral("Strana %1").arg(i), paperMm));
    store->finish();
    return store;
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

int pdfPageCount(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLatin1(f.readAll());
    return int(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))));
}

QStringList qrpTempFiles()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("QRP*")}, QDir::Files);
}

PrintProgressWindow *visibleProgressWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *p = dynamic_cast<PrintProgressWindow *>(w); p && p->isVisible())
            return p;
    return nullptr;
}
