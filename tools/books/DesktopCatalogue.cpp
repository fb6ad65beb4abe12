#include "DesktopCatalogue.h"

#include <QSettings>

#include "Books.h"
#include "engine/ServerUri.h"

namespace zeplo::tool {

namespace {

const QString kKey = QStringLiteral("catalogue");

// The platform's own place for a user's settings: on Linux the INI file
// zeplo/zeplo.conf of the user's configuration folder.
QSettings settings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("zeplo"), QStringLiteral("zeplo"));
}

} // namespace

std::string desktopCatalogue()
{
    return settings().value(kKey).toString().toStdString();
}

void setDesktopCatalogue(const std::string &catalogue)
{
    QSettings file = settings();
    // A password given in a URI stays out of the file.
    file.setValue(kKey, QString::fromStdString(isServerUri(catalogue) ? withoutPassword(catalogue) : catalogue));
    file.sync();
    if (file.status() != QSettings::NoError)
        fail(say("cannot write the setting ", "nelze zapsat nastavení do souboru ") + file.fileName().toStdString());
}

} // namespace zeplo::tool
