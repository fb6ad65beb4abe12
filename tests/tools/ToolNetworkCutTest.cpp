// The connection to the server cut at every message of the tool's commands on
// a server catalogue, each way, in each of three ways, the commands running
// on a thread of their own as the transfer window runs them: the table is as
// before or as after, the files written are whole or absent, the user is told
// the truth, and the command tried again works.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

#include <QDir>
#include <QTemporaryDir>

#include "NetworkCuts.h"
#include "books/Commands.h"
#include "books/files/BookFile.h"
#include "books/stores/CatalogueStore.h"

using namespace zeplo;
namespace fs = std::filesystem;

namespace {

constexpr int kBooks = 12;
constexpr int kDeadlineMs = 300;

const char *const kCsv = "autor,nazev,rok_vydani,vlastnim\nHrabal,Obsluhoval jsem anglického krále,1971,ano\n"
                         "Čapek,Krakatit,1924,ne\n\"Němcová, Božena\",Babička,1855,\n";

std::string contentsOf(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Every book of a catalogue as the tool reads them, or that there is none.
QString booksIn(const std::string &where)
{
    const std::unique_ptr<tool::CatalogueStore> store = tool::openCatalogue(where);
    if (!store->exists())
        return QStringLiteral("(no catalogue)");
    QStringList lines;
    store->readAll([&](const tool::Book &book) {
        QStringList values;
        for (std::size_t i = 0; i < book.size(); ++i)
            values << (book[i].null                           ? QStringLiteral("-")
                       : tool::holdsText(tool::kColumns[i].kind) ? QString::fromStdString(book[i].text)
                                                                 : QString::number(book[i].number));
        lines << values.join(QLatin1Char('|'));
    });
    return lines.join(QLatin1Char('\n'));
}

// One of the tool's commands between the server catalogue and a folder or file.
class ToolAction : public CutAction {
public:
    enum class Kind { Import, CopyToServer, CopyFromServer, Export };
    ToolAction(CutCatalogue &catalogue, Kind kind) : catalogue_(catalogue), kind_(kind)
    {
        const fs::path csv = path("books.csv");
        std::ofstream(csv, std::ios::binary) << kCsv;
        if (kind_ == Kind::CopyToServer) {
            // A folder's catalogue of the books the server's empty one is to be filled with.
            tool::BookFile books(csv, {});
            tool::importBooks(*tool::openCatalogue(path("source").string()), books);
        }
    }

    bool writes() const override { return kind_ == Kind::Import || kind_ == Kind::CopyToServer; }
    bool onItsOwnThread() const override { return true; }
    void begin() override { end(); }
    void act() override
    {
        const auto server = [&] { return tool::openCatalogue(catalogue_.uri().toStdString()); };
        switch (kind_) {
        case Kind::Import: {
            tool::BookFile books(path("books.csv"), {});
            tool::importBooks(*server(), books);
            break;
        }
        case Kind::CopyToServer:
            tool::copyBooks(*tool::openCatalogue(path("source").string()), *server());
            break;
        case Kind::CopyFromServer:
            tool::copyBooks(*server(), *tool::openCatalogue(path("copy").string()));
            break;
        case Kind::Export:
            tool::exportBooks(*server(), path("books-out.csv"), false);
            break;
        }
    }
    QString seen() override
    {
        switch (kind_) {
        case Kind::CopyFromServer: return booksIn(path("copy").string());
        case Kind::Export:
            return fs::exists(path("books-out.csv")) ? QString::fromStdString(contentsOf(path("books-out.csv")))
                                                     : QStringLiteral("(no file)");
        default: return QString();
        }
    }
    // Nothing half-made is left behind: a catalogue made for a failed copy
    // goes again whole, and a failed export leaves no file.
    QString broken() override
    {
        QStringList left;
        const QStringList copy = QDir(QString::fromStdString(path("copy").string())).entryList(QDir::Files | QDir::Hidden);
        if (!copy.isEmpty() && !copy.contains(QStringLiteral("zeplo.db")))
            left << QStringLiteral("the copy's folder holds ") + copy.join(QStringLiteral(", "));
        for (const QString &file : QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden))
            if (file != QLatin1String("books.csv") && file != QLatin1String("books-out.csv"))
                left << QStringLiteral("a file left beside the export: ") + file;
        return left.join(QStringLiteral("; "));
    }
    void end() override
    {
        fs::remove_all(path("copy"));
        fs::remove(path("books-out.csv"));
    }

private:
    fs::path path(const char *name) const { return fs::path(dir_.path().toStdString()) / name; }

    CutCatalogue &catalogue_;
    Kind kind_;
    QTemporaryDir dir_;
};

struct ToolCommand {
    const char *name;
    ToolAction::Kind kind;
    int books;   // on the server before the command
};
const ToolCommand kCommands[] = {
    {"import", ToolAction::Kind::Import, kBooks},
    {"copy to the server", ToolAction::Kind::CopyToServer, 0},
    {"copy from the server", ToolAction::Kind::CopyFromServer, kBooks},
    {"export", ToolAction::Kind::Export, kBooks},
};

} // namespace

using Cut = TcpRelay::Cut;
using Refusal = libpq_refusals::Kind;
class ToolNetworkCuts : public testing::TestWithParam<std::tuple<int, Fault>> {};

TEST_P(ToolNetworkCuts, AtEveryMessage)
{
    const ToolCommand &command = kCommands[std::get<0>(GetParam())];
    CutCatalogue catalogue(command.books, kDeadlineMs);
    ToolAction action(catalogue, command.kind);
    sweep(catalogue, QString::fromUtf8(command.name), action, std::get<1>(GetParam()));
}

// Every command with every fault; a full buffer, what a network slower than
// the tool gives, only for the two that send a COPY (import, copy to the
// server): they must go on as if nothing happened.
std::vector<std::tuple<int, Fault>> toolFaults()
{
    std::vector<std::tuple<int, Fault>> out;
    for (int command = 0; command < int(std::size(kCommands)); ++command) {
        for (Fault fault : {Fault(Cut::Drop), Fault(Cut::DeliverThenDrop), Fault(Cut::Silence), Fault(Refusal::Failure)})
            out.emplace_back(command, fault);
        if (kCommands[command].kind == ToolAction::Kind::Import || kCommands[command].kind == ToolAction::Kind::CopyToServer)
            out.emplace_back(command, Refusal::FullBuffer);
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Tool, ToolNetworkCuts, testing::ValuesIn(toolFaults()),
                         [](const testing::TestParamInfo<std::tuple<int, Fault>> &info) {
                             return testName(kCommands[std::get<0>(info.param)].name, std::get<1>(info.param));
                         });
