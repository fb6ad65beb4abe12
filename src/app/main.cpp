#include <exception>

#include "app/MainWindow.h"
#include "app/BookListReport.h"
#include "app/Application.h"

using namespace zeplo;

int main(int argc, char **argv)
{
    Application application(argc, argv);

    MainWindow *form1 = nullptr;
    try {
        form1 = new MainWindow;
    } catch (const std::exception &error) {
        // The main window could not be made (no catalogue, engine failure):
        // the start ends here, without showing it.
        showStartupError(error);
        return 1;
    }
    BookListReport tisk(form1->books());
    tisk.setMainWindow(form1);
    form1->setReport(&tisk);

    form1->show();
    form1->activateWindow();
    const int code = application.exec();
    delete form1;
    return code;
}
