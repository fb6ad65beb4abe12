#pragma once

#include <functional>

#include <QString>

#include <sqlite3.h>

// Reads a catalogue file without changing it: opened read-only, a journal left
// to roll back stays as it is. The database `read` gets is then a copy of the
// file and its journal in a scratch folder, rolled back there: what the next
// program to open the file for writing will find. Returns whether a journal
// was left to roll back.
bool readCatalogueFile(const QString &file, const std::function<void(sqlite3 *)> &read);
