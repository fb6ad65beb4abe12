#include "engine/Genres.h"

namespace zeplo {

const QStringList &genres()
{
    static const QStringList list = {
        QStringLiteral("Astrologie"), QStringLiteral("Atlas"), QStringLiteral("Beletrie"), QStringLiteral("Cestopis"),
        QStringLiteral("Časopis"), QStringLiteral("Detektivka"), QStringLiteral("Dětská liter."), QStringLiteral("Divadelní hra"),
        QStringLiteral("Dívčí román"), QStringLiteral("Dobrodružné"), QStringLiteral("Dokument"), QStringLiteral("Encyklopedie"),
        QStringLiteral("Erotika"), QStringLiteral("Fantasy"), QStringLiteral("Historie"), QStringLiteral("Horor"),
        QStringLiteral("Komedie"), QStringLiteral("Kuchařka"), QStringLiteral("Krimy"), QStringLiteral("Návod/manuál"),
        QStringLiteral("Noviny"), QStringLiteral("Odborná liter."), QStringLiteral("Poezie"), QStringLiteral("Pohádka"),
        QStringLiteral("Průvodce"), QStringLiteral("Příručka"), QStringLiteral("Psychologie"), QStringLiteral("Romantika"),
        QStringLiteral("Slovník"), QStringLiteral("SCI-FI"), QStringLiteral("Učebnice"), QStringLiteral("Válečný"),
        QStringLiteral("Western"), QStringLiteral("Životopis"), QStringLiteral("Jiné")};
    return list;
}

} // namespace zeplo
