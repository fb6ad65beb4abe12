#include "app/Application.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include <QFileInfo>
#include <QMessageBox>

#include "widgets/ErrorGuard.h"
#include "app/Fonts.h"

namespace zeplo {

namespace {

QString className(const std::exception &error)
{
    const char *mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
    const qsizetype colon = name.lastIndexOf(QLatin1String("::"));
    return colon >= 0 ? name.mid(colon + 2) : name;
}

// Where the failure was caught, relative to the program's load address.
quintptr relativeAddress(const void *address)
{
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fbase)
        return quintptr(address) - quintptr(info.dli_fbase);
    return quintptr(address);
}

} // namespace

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    installFontSubstitutes();
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

QString startupErrorText(const std::exception &error)
{
    const QString message = QString::fromUtf8(error.what());
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString address = QStringLiteral("%1").arg(relativeAddress(__builtin_return_address(0)), 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("Exception %1 in module %2 at %3.\n%4%5")
        .arg(className(error), module, address, message,
             message.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."));
}

void showStartupError(const std::exception &error)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), startupErrorText(error),
                    QMessageBox::Ok, nullptr);
    box.setObjectName(QStringLiteral("ApplicationErrorBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace zeplo
