#include "engine/CatalogueChoice.h"

#include "engine/Engine.h"
#include "engine/Error.h"

namespace zeplo {

void chooseCatalogue(const QStringList &arguments)
{
    const QString option = QStringLiteral("--catalogue");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == option) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                throw Error(QStringLiteral("The option --catalogue needs a value: a catalogue file or a server URI"));
            Engine::setCatalogue(arguments[i + 1]);
            return;
        }
        if (arguments[i].startsWith(option + QLatin1Char('='))) {
            const QString value = arguments[i].mid(option.size() + 1);
            if (value.isEmpty())
                throw Error(QStringLiteral("The option --catalogue needs a value: a catalogue file or a server URI"));
            Engine::setCatalogue(value);
            return;
        }
    }
    if (qEnvironmentVariableIsSet("ZEPLO_CATALOGUE")) {
        const QString value = qEnvironmentVariable("ZEPLO_CATALOGUE");
        if (value.isEmpty())
            throw Error(QStringLiteral("The environment variable ZEPLO_CATALOGUE is empty: it should name a catalogue "
                                       "file or a server URI"));
        Engine::setCatalogue(value);
    }
}

} // namespace zeplo
