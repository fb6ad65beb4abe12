// zeplo-catalogue: makes the catalogue the program works on, in a folder or on a
// PostgreSQL server, fills it from a CSV file or with made-up books for trying the
// program out, writes it out as CSV, and copies it between folders and servers.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "Commands.h"

namespace {

const char *const kUsage =
    "Usage (CATALOGUE is a folder holding zeplo.db, or a PostgreSQL connection URI\n"
    "such as postgresql://user@host/database or postgresql:///database?host=/socket/folder):\n"
    "  zeplo-catalogue create CATALOGUE\n"
    "      Makes an empty catalogue (the folder too); an existing one is left alone.\n"
    "  zeplo-catalogue import CATALOGUE FILE.csv\n"
    "      Adds the books of a CSV file (UTF-8, first line names the columns out of\n"
    "      id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno), making the\n"
    "      catalogue first when it is missing. All books or none are added.\n"
    "  zeplo-catalogue export CATALOGUE FILE.csv\n"
    "      Writes every book to a new CSV file that import reads back as the same books.\n"
    "  zeplo-catalogue copy FROM TO\n"
    "      Copies every book, ids and values as they are, into a new or empty catalogue;\n"
    "      all books or none.\n"
    "  zeplo-catalogue demo CATALOGUE N [SEED]\n"
    "      Makes a new catalogue with N made-up books; the same SEED (default 1) gives\n"
    "      the same books.\n"
    "  zeplo-catalogue --help\n"
    "      Shows this text.\n";

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

} // namespace

int main(int argc, char **argv)
{
    using namespace zeplo::tool;
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (command == "create") {
            if (argc != 3)
                return usageError("create needs exactly one catalogue");
            createCatalogue(*openCatalogue(argv[2]));
            return 0;
        }
        if (command == "import") {
            if (argc != 4)
                return usageError("import needs a catalogue and a CSV file");
            const auto target = openCatalogue(argv[2]);
            const std::size_t count = importBooks(*target, argv[3]);
            std::printf("%zu books imported into %s\n", count, target->name().c_str());
            return 0;
        }
        if (command == "export") {
            if (argc != 4)
                return usageError("export needs a catalogue and a CSV file");
            const auto source = openCatalogue(argv[2]);
            const std::uint64_t count = exportBooks(*source, argv[3]);
            std::printf("%llu books exported to %s\n", static_cast<unsigned long long>(count), argv[3]);
            return 0;
        }
        if (command == "copy") {
            if (argc != 4)
                return usageError("copy needs the catalogue to copy and the one to fill");
            const auto source = openCatalogue(argv[2]);
            const auto target = openCatalogue(argv[3]);
            const std::uint64_t count = copyBooks(*source, *target);
            std::printf("%llu books copied into %s\n", static_cast<unsigned long long>(count),
                        target->name().c_str());
            return 0;
        }
        if (command == "demo") {
            if (argc != 4 && argc != 5)
                return usageError("demo needs a catalogue, a number of books and an optional seed");
            std::uint64_t count = 0, seed = 1;
            if (!parseCount(argv[3], count))
                return usageError(std::string("not a number of books: ") + argv[3]);
            if (argc == 5 && !parseCount(argv[4], seed))
                return usageError(std::string("not a seed (a whole number from 0): ") + argv[4]);
            const auto target = openCatalogue(argv[2]);
            makeDemoCatalogue(*target, count, seed);
            std::printf("%llu books made in %s\n", static_cast<unsigned long long>(count), target->name().c_str());
            return 0;
        }
        return usageError(command.empty() ? "no command given" : "unknown command: " + command);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zeplo-catalogue: %s\n", e.what());
        return 1;
    }
}
