#include <exception>

#include "Unit1.h"
#include "Unit6.h"
#include "app/TApplication.h"

int main(int argc, char **argv)
{
    zeplo::TApplication application(argc, argv);

    TForm1 *form1 = nullptr;
    try {
        form1 = new TForm1;
    } catch (const std::exception &error) {
        // The main window could not be made (no catalogue, engine failure):
        // the start ends here, without showing it.
        zeplo::showStartupError(error);
        return 1;
    }
    TTisk tisk(form1->Query1);
    tisk.setMainWindow(form1);
    form1->setReport(&tisk);

    form1->show();
    form1->activateWindow();
    const int code = application.exec();
    delete form1;
    return code;
}
