#include "widgets/QtTranslations.h"

#include <memory>

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace zeplo {

namespace {
std::unique_ptr<QTranslator> installed;
} // namespace

bool loadQtTranslations(const QLocale &locale)
{
    unloadQtTranslations();
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

void unloadQtTranslations()
{
    if (installed)
        QCoreApplication::removeTranslator(installed.get());
    installed.reset();
}

} // namespace zeplo
