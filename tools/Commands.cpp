#include "Commands.h"

#include <vector>

#include <QFile>
#include <QSaveFile>

#include "BookCsv.h"
#include "DemoData.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

void requireExisting(CatalogueStore &catalogue)
{
    if (!catalogue.exists())
        fail(catalogue.name() + ": there is no catalogue");
}

} // namespace

void createCatalogue(CatalogueStore &target)
{
    target.write(WriteMode::MakeNew, [](BookSink &) {});
}

std::size_t importBooks(CatalogueStore &target, const fs::path &csvFile)
{
    // The whole file is checked before the catalogue is touched.
    const CsvBooks parsed = readCsvBooks(csvFile);
    try {
        target.write(target.exists() ? WriteMode::AddTo : WriteMode::MakeNew, [&](BookSink &sink) {
            for (const Book &book : parsed.books)
                sink.add(book);
        });
    } catch (const BookRefused &e) {
        fail(csvFile.string() + ", line " + std::to_string(parsed.lines.at(e.index))
             + ": the catalogue refused the book: " + e.what());
    }
    return parsed.books.size();
}

void makeDemoCatalogue(CatalogueStore &target, std::uint64_t count, std::uint64_t seed)
{
    try {
        target.write(WriteMode::MakeNew, [&](BookSink &sink) { makeDemoBooks(sink, count, seed); });
    } catch (const BookRefused &e) {
        fail(target.name() + ": the catalogue refused made-up book " + std::to_string(e.index + 1) + ": "
             + e.what());
    }
}

std::uint64_t exportBooks(CatalogueStore &source, const fs::path &csvFile)
{
    const QString fileName = QString::fromStdString(csvFile.string());
    // An export never replaces a file: it may be the very file the books came from.
    if (QFile::exists(fileName))
        fail(csvFile.string() + " already exists; an export never overwrites a file");
    requireExisting(source);
    // Written aside and put in place only when complete: a failed export leaves no file.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        fail("cannot write " + csvFile.string() + ": " + file.errorString().toStdString());
    std::string chunk = csvHeader();
    std::uint64_t count = 0;
    const auto writeChunk = [&] {
        if (file.write(chunk.data(), static_cast<qint64>(chunk.size())) != static_cast<qint64>(chunk.size()))
            fail("cannot write " + csvFile.string() + ": " + file.errorString().toStdString());
        chunk.clear();
    };
    source.readAll([&](const Book &book) {
        appendCsvBook(chunk, book);
        ++count;
        if (chunk.size() >= 256 * 1024)
            writeChunk();
    });
    writeChunk();
    if (!file.commit())
        fail("cannot write " + csvFile.string() + ": " + file.errorString().toStdString());
    return count;
}

std::uint64_t copyBooks(CatalogueStore &source, CatalogueStore &target)
{
    requireExisting(source);
    std::vector<std::int64_t> ids; // to name a refused book by its id
    try {
        target.write(target.exists() ? WriteMode::FillEmpty : WriteMode::MakeNew, [&](BookSink &sink) {
            source.readAll([&](const Book &book) {
                ids.push_back(book[0].number);
                sink.add(book);
            });
        });
    } catch (const BookRefused &e) {
        fail(target.name() + " refused the book with id " + std::to_string(ids.at(e.index)) + ": " + e.what());
    }
    return ids.size();
}

} // namespace zeplo::tool
