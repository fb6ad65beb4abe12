#pragma once

#include <QStringList>

namespace zeplo {

// Names the catalogue of this run, for the program and the transfer window
// alike: `--catalogue VALUE` (or --catalogue=VALUE), else the environment
// variable ZEPLO_CATALOGUE; with neither, zeplo.db in the working directory.
// Raises an Error for an option without a value.
void chooseCatalogue(const QStringList &arguments);

} // namespace zeplo
