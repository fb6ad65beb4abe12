// zeplo-catalogue: makes the catalogue the program works on, in a folder or on a
// PostgreSQL server, fills it from a CSV file or a workbook, or with made-up books
// for trying the program out, writes it out as CSV or a workbook, copies it
// between folders and servers, and brings one made by an earlier version up to date.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "TerminalPassword.h"
#include "TerminalProgress.h"
#include "books/Commands.h"
#include "books/DesktopCatalogue.h"
#include "books/stores/PgStore.h"
#include "engine/ServerUri.h"

namespace {

const char *const kUsage =
    "Usage (CATALOGUE is a folder holding zeplo.db, or a PostgreSQL connection URI\n"
    "such as postgresql://user@host/database or postgresql:///database?host=/socket/folder):\n"
    "  zeplo-catalogue create CATALOGUE\n"
    "      Makes an empty catalogue (the folder too); an existing one is left alone.\n"
    "  zeplo-catalogue import [OPTIONS] CATALOGUE FILE\n"
    "      Adds the books of a CSV file or of the first sheet of an .ods or .xlsx\n"
    "      workbook, making the catalogue first when it is missing. All books or none\n"
    "      are added. The first row names the columns, in Czech or as the catalogue\n"
    "      does (id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno),\n"
    "      without regard to case, accents, spaces and underscores. A CSV file may\n"
    "      be UTF-8, UTF-16 with a byte-order mark, or Windows-1250, separated by\n"
    "      commas, semicolons or tabs. Options:\n"
    "        --encoding NAME    read a CSV file in this encoding (e.g. windows-1250)\n"
    "        --separator C      separate its fields by C: , ; or tab\n"
    "        --ignore-unknown   leave out columns of no known name instead of refusing\n"
    "  zeplo-catalogue export [--for-spreadsheet] CATALOGUE FILE\n"
    "      Writes every book to a new file that import reads back as the same books:\n"
    "      an .ods or .xlsx workbook by the name's ending, otherwise CSV in UTF-8\n"
    "      with commas, or with --for-spreadsheet, with a byte-order mark and\n"
    "      semicolons, which Czech spreadsheet programs open directly.\n"
    "  zeplo-catalogue copy FROM TO\n"
    "      Copies every book, ids and values as they are, into a new or empty catalogue;\n"
    "      all books or none.\n"
    "  zeplo-catalogue demo CATALOGUE N [SEED]\n"
    "      Makes a new catalogue with N made-up books; the same SEED (default 1) gives\n"
    "      the same books.\n"
    "  zeplo-catalogue upgrade CATALOGUE\n"
    "      Gives a catalogue made by an earlier version what this one uses: on a\n"
    "      server, the triggers that tell the programs showing it of changed books.\n"
    "      No book is touched; a catalogue file needs nothing.\n"
    "  zeplo-catalogue chosen\n"
    "      Prints the catalogue chosen in the transfer window (\"Změnit…\"), which the\n"
    "      desktop menu's Zeplo opens; nothing when none was chosen.\n"
    "  zeplo-catalogue --help\n"
    "      Shows this text.\n"
    "On a terminal, the password of a server that wants one nobody gave (in the\n"
    "URI, ~/.pgpass or PGPASSWORD) is asked for, without echo.\n";

bool parseCount(std::string_view text, std::uint64_t &value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "zeplo-catalogue: %s\n\n%s", message.c_str(), kUsage);
    return 1;
}

// The separator a user names: the character itself, or a word for it.
char separatorNamed(std::string_view name)
{
    if (name == "," || name == "comma")
        return ',';
    if (name == ";" || name == "semicolon")
        return ';';
    if (name == "tab" || name == "\\t" || name == "\t")
        return '\t';
    return 0;
}

// A folder's catalogue, or a server's with its password asked for on the
// terminal when the server wants one.
std::unique_ptr<zeplo::tool::CatalogueStore> open(const std::string &where)
{
    if (!zeplo::isServerUri(where))
        return zeplo::tool::openCatalogue(where);
    return zeplo::tool::makePgStore(where, terminalPassword(where));
}

} // namespace

int main(int argc, char **argv)
{
    using namespace zeplo::tool;
    const std::string command = argc > 1 ? argv[1] : "";
    // The command's words after the options it takes.
    std::vector<std::string> words;
    ReadOptions read;
    bool forSpreadsheet = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (command == "import" && (arg == "--encoding" || arg == "--separator") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--encoding") {
                read.encoding = value;
            } else if (!(read.separator = separatorNamed(value))) {
                return usageError("not a separator (, ; or tab): " + value);
            }
        } else if (command == "import" && arg == "--ignore-unknown") {
            read.ignoreUnknown = true;
        } else if (command == "export" && arg == "--for-spreadsheet") {
            forSpreadsheet = true;
        } else if (arg.size() > 2 && arg.substr(0, 2) == "--") {
            return usageError("unknown option for " + command + ": " + std::string(arg));
        } else {
            words.emplace_back(arg);
        }
    }
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (command == "chosen") {
            if (!words.empty())
                return usageError("chosen takes no catalogue");
            const std::string chosen = desktopCatalogue();
            if (!chosen.empty())
                std::printf("%s\n", chosen.c_str());
            return 0;
        }
        if (command == "create") {
            if (words.size() != 1)
                return usageError("create needs exactly one catalogue");
            createCatalogue(*open(words[0]));
            return 0;
        }
        if (command == "import") {
            if (words.size() != 2)
                return usageError("import needs a catalogue and a file");
            const auto target = open(words[0]);
            BookFile file(words[1], read);
            std::fprintf(stderr, "zeplo-catalogue: %s\n", file.decisions().c_str());
            TerminalProgress progress("import");
            const std::uint64_t count = importBooks(*target, file, progress);
            std::printf("%llu books imported into %s\n", static_cast<unsigned long long>(count),
                        target->name().c_str());
            return 0;
        }
        if (command == "export") {
            if (words.size() != 2)
                return usageError("export needs a catalogue and a file");
            const auto source = open(words[0]);
            TerminalProgress progress("export");
            const std::uint64_t count = exportBooks(*source, words[1], forSpreadsheet, progress);
            std::printf("%llu books exported to %s\n", static_cast<unsigned long long>(count), words[1].c_str());
            return 0;
        }
        if (command == "copy") {
            if (words.size() != 2)
                return usageError("copy needs the catalogue to copy and the one to fill");
            const auto source = open(words[0]);
            const auto target = open(words[1]);
            TerminalProgress progress("copy");
            const std::uint64_t count = copyBooks(*source, *target, progress);
            std::printf("%llu books copied into %s\n", static_cast<unsigned long long>(count),
                        target->name().c_str());
            return 0;
        }
        if (command == "demo") {
            if (words.size() != 2 && words.size() != 3)
                return usageError("demo needs a catalogue, a number of books and an optional seed");
            std::uint64_t count = 0, seed = 1;
            if (!parseCount(words[1], count))
                return usageError("not a number of books: " + words[1]);
            if (words.size() == 3 && !parseCount(words[2], seed))
                return usageError("not a seed (a whole number from 0): " + words[2]);
            const auto target = open(words[0]);
            makeDemoCatalogue(*target, count, seed);
            std::printf("%llu books made in %s\n", static_cast<unsigned long long>(count), target->name().c_str());
            return 0;
        }
        if (command == "upgrade") {
            if (words.size() != 1)
                return usageError("upgrade needs exactly one catalogue");
            const auto target = open(words[0]);
            if (upgradeCatalogue(*target))
                std::printf("%s now tells the programs showing it of changed books\n", target->name().c_str());
            else
                std::printf("%s is up to date\n", target->name().c_str());
            return 0;
        }
        return usageError(command.empty() ? "no command given" : "unknown command: " + command);
    } catch (const std::bad_alloc &) {
        // What runs out of memory reading a file says so itself; anything else, here.
        std::fprintf(stderr, "zeplo-catalogue: the memory ran out\n");
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zeplo-catalogue: %s\n", e.what());
        return 1;
    }
}
