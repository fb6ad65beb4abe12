#include "Commands.h"

#include <vector>

#include "DemoData.h"
#include "files/BookWriter.h"

namespace fs = std::filesystem;

namespace zeplo::tool {

namespace {

void requireExisting(CatalogueStore &catalogue)
{
    if (!catalogue.exists())
        fail(catalogue.name() + say(": there is no catalogue", ": katalog neexistuje"));
}

// Reports every kProgressEvery books, and at the end.
class BookCounter {
public:
    BookCounter(Progress &progress, Stage stage, std::uint64_t total)
        : progress_(progress), stage_(stage), total_(total)
    {
        progress_.advance(stage_, 0, total_);
    }
    void count()
    {
        if (++done_ % kProgressEvery == 0)
            progress_.advance(stage_, done_, total_);
    }
    void finish() { progress_.advance(stage_, done_, total_); }
    std::uint64_t done() const { return done_; }

private:
    Progress &progress_;
    Stage stage_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
};

} // namespace

void createCatalogue(CatalogueStore &target)
{
    target.write(WriteMode::MakeNew, [](BookSink &) {});
}

std::uint64_t importBooks(CatalogueStore &target, BookFile &file, Progress &progress)
{
    const std::uint64_t total = file.check(progress);
    std::vector<int> lines; // to name a refused book by its line
    lines.reserve(total);
    try {
        target.write(target.exists() ? WriteMode::AddTo : WriteMode::MakeNew, [&](BookSink &sink) {
            BookCounter counter(progress, Stage::Storing, total);
            file.read([&](const Book &book, int line) {
                lines.push_back(line);
                sink.add(book);
                counter.count();
            });
            counter.finish();
        });
    } catch (const BookRefused &e) {
        fail(file.path().string() + say(", line ", ", řádek ") + std::to_string(lines.at(e.index))
             + say(": the catalogue refused the book: ", ": katalog knihu odmítl: ") + e.what());
    }
    return lines.size();
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

std::uint64_t exportBooks(CatalogueStore &source, const fs::path &file, bool forSpreadsheet, Progress &progress)
{
    requireNewFile(file);
    requireExisting(source);
    BookCounter counter(progress, Stage::Writing, source.count());
    const std::unique_ptr<BookWriter> writer = createBookFile(file, forSpreadsheet);
    source.readAll([&](const Book &book) {
        writer->add(book);
        counter.count();
    });
    writer->commit();
    counter.finish();
    return counter.done();
}

std::uint64_t copyBooks(CatalogueStore &source, CatalogueStore &target, Progress &progress)
{
    requireExisting(source);
    std::vector<std::int64_t> ids; // to name a refused book by its id
    try {
        target.write(target.exists() ? WriteMode::FillEmpty : WriteMode::MakeNew, [&](BookSink &sink) {
            BookCounter counter(progress, Stage::Copying, source.count());
            source.readAll([&](const Book &book) {
                ids.push_back(book[0].number);
                sink.add(book);
                counter.count();
            });
            counter.finish();
        });
    } catch (const BookRefused &e) {
        fail(target.name() + say(" refused the book with id ", " odmítl knihu s id ") + std::to_string(ids.at(e.index))
             + ": " + e.what());
    }
    return ids.size();
}

bool upgradeCatalogue(CatalogueStore &target)
{
    requireExisting(target);
    return target.upgrade();
}

} // namespace zeplo::tool
