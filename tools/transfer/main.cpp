// zeplo-transfer: the window of the desktop menu's "Zeplo – převod knih", which
// loads books into the catalogue from spreadsheets, saves them to such files
// and copies the catalogue to a server, on the catalogue zeplo opens.

#include <QApplication>
#include <QDir>
#include <QLocale>

#include "TransferMessages.h"
#include "TransferWindow.h"
#include "books/Books.h"
#include "engine/CatalogueChoice.h"
#include "engine/Engine.h"
#include "engine/ServerUri.h"
#include "widgets/ServerLogIn.h"
#include "widgets/QtTranslations.h"

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    zeplo::loadQtTranslations(QLocale());
    zeplo::tool::setLanguage(zeplo::tool::Language::Czech);
    std::unique_ptr<zeplo::transfer::TransferWindow> window;
    bool cancelled = false;
    const bool made = zeplo::transfer::runShowingFailure(nullptr, [&] {
        zeplo::chooseCatalogue(application.arguments());
        const QString chosen = zeplo::Engine::catalogue();
        // On a server, its password first, as the program asks it.
        std::string password;
        try {
            if (zeplo::isServerUri(chosen.toStdString()))
                password = zeplo::transfer::logInForTransfer(chosen.toStdString());
        } catch (const zeplo::LogInCancelled &) {
            cancelled = true;
            return;
        }
        window = std::make_unique<zeplo::transfer::TransferWindow>(
            chosen.isEmpty() ? QDir::current().absoluteFilePath(QStringLiteral("zeplo.db")) : chosen, nullptr,
            password);
    });
    if (!made || cancelled)
        return 1;
    window->show();
    return application.exec();
}
