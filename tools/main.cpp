// zeplo-catalogue: makes the catalogue file the program works on, fills it from
// a CSV file, or fills a new one with made-up books for trying the program out.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "Catalogue.h"
#include "DemoData.h"

namespace {

const char *const kUsage =
    "Usage:\n"
    "  zeplo-catalogue create DIR\n"
    "      Makes DIR (if needed) and an empty catalogue DIR/zeplo.db; an existing file is left alone.\n"
    "  zeplo-catalogue import DIR FILE.csv\n"
    "      Adds the books of a CSV file (UTF-8, first line names the columns out of\n"
    "      id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno) to DIR/zeplo.db,\n"
    "      making the catalogue first when it is missing. All books or none are added.\n"
    "  zeplo-catalogue demo DIR N [SEED]\n"
    "      Makes a new catalogue DIR/zeplo.db with N made-up books; the same SEED (default 1)\n"
    "      gives the same books.\n"
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
                return usageError("create needs exactly one folder");
            createCatalogue(argv[2]);
            return 0;
        }
        if (command == "import") {
            if (argc != 4)
                return usageError("import needs a folder and a CSV file");
            const std::size_t count = importBooks(argv[2], argv[3]);
            std::printf("%zu books imported into %s\n", count, catalogueFile(argv[2]).string().c_str());
            return 0;
        }
        if (command == "demo") {
            if (argc != 4 && argc != 5)
                return usageError("demo needs a folder, a number of books and an optional seed");
            std::uint64_t count = 0, seed = 1;
            if (!parseCount(argv[3], count))
                return usageError(std::string("not a number of books: ") + argv[3]);
            if (argc == 5 && !parseCount(argv[4], seed))
                return usageError(std::string("not a seed (a whole number from 0): ") + argv[4]);
            makeDemoCatalogue(argv[2], count, seed);
            std::printf("%llu books made in %s\n", static_cast<unsigned long long>(count),
                        catalogueFile(argv[2]).string().c_str());
            return 0;
        }
        return usageError(command.empty() ? "no command given" : "unknown command: " + command);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zeplo-catalogue: %s\n", e.what());
        return 1;
    }
}
