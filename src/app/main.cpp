#include <exception>
#include <memory>

#include "app/MainWindow.h"
#include "app/BookListReport.h"
#include "app/Application.h"
#include "widgets/ServerLogIn.h"

using namespace zeplo;

int main(int argc, char **argv)
{
    Application application(argc, argv);

    std::unique_ptr<MainWindow> form1;
    std::unique_ptr<BookListReport> tisk;
    try {
        chooseCatalogue(application.arguments());
        logInToCatalogueServer();
        form1 = std::make_unique<MainWindow>();
        tisk = std::make_unique<BookListReport>(form1->books());
    } catch (const LogInCancelled &) {
        return 1;
    } catch (const std::exception &error) {
        // The main window or the report could not be made (no catalogue,
        // engine failure): the start ends here, without showing the window.
        showStartupError(error);
        return 1;
    }
    tisk->setMainWindow(form1.get());
    form1->setReport(tisk.get());

    form1->show();
    form1->activateWindow();
    const int code = application.exec();
    // The report lets go of the window before the window goes.
    tisk.reset();
    form1.reset();
    return code;
}
