#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include <QString>

// The catalogue's table: its name, its columns with their kinds and sizes, and
// the text that makes it on each engine. The program, the catalogue tool, the
// seed maker and the tests all take the table from here.
namespace zeplo::schema {

inline constexpr const char *kTable = "zeplo";

enum class Kind {
    Id,      // the integer key the engine gives a new book
    Text,    // a text of at most `size` characters
    Year,    // a small whole number
    Memo,    // a text of any length
    Logical, // yes or no
};

struct Column {
    const char *name;
    Kind kind;
    std::size_t size; // characters, for text columns
};

inline constexpr std::size_t kColumnCount = 9;

// The columns, in the order every catalogue and file lists them.
inline constexpr std::array<Column, kColumnCount> kColumns = {{{"id", Kind::Id, 0},
                                                               {"autor", Kind::Text, 40},
                                                               {"nazev", Kind::Text, 60},
                                                               {"zanr", Kind::Text, 20},
                                                               {"rok_vydani", Kind::Year, 0},
                                                               {"popis", Kind::Memo, 0},
                                                               {"vlastnim", Kind::Logical, 0},
                                                               {"precteno", Kind::Logical, 0},
                                                               {"pujceno", Kind::Memo, 0}}};

// Where each column stands in kColumns.
enum Position : std::size_t { Id, Author, Title, Genre, Published, Description, Owned, Read, Lent };

inline constexpr const char *name(Position column) { return kColumns[column].name; }
inline QString columnName(Position column) { return QString::fromLatin1(kColumns[column].name); }
inline constexpr bool holdsText(Kind kind) { return kind == Kind::Text || kind == Kind::Memo; }

// How the table is declared.
enum class Flavour {
    File,      // a catalogue file as the tool makes it: the long texts are TEXT
    OlderFile, // a catalogue file of earlier versions: the long texts are MEMO, a type
               // of numeric affinity, under which SQLite stores "007" as the number 7
    Server,    // PostgreSQL: the key an identity column
};
// CREATE TABLE zeplo (...), one line for the key, one for the sized texts, one for the rest.
QString createTable(Flavour flavour);

// "id,autor,...,pujceno"
QString columnList();
// "select id,autor,...,pujceno from zeplo": every column of every book.
QString selectAll();

// On a server, every statement that changes books tells the programs that
// listen on kChangesChannel: its payload is the keys of the books it added,
// changed or removed, separated by commas, or kManyChanged when there are
// more than kMostNamed of them or they were all removed at once. A trigger
// runs once per statement, whatever its number of rows, and the server sends
// a notice only once the transaction is committed, each payload once: an
// import of a hundred thousand books tells in a handful of notices.
inline constexpr const char *kChangesChannel = "zeplo_books";
inline constexpr const char *kManyChanged = "many";
inline constexpr int kMostNamed = 100;

// The function the triggers run, made or replaced.
QString changeNoticeFunction();
// The triggers, each with the statement that makes it.
struct Trigger {
    const char *name;
    QString create;
};
std::vector<Trigger> changeNoticeTriggers();
// A query of the names of those triggers the table has, a row each.
QString changeNoticeTriggersPresent();

} // namespace zeplo::schema
