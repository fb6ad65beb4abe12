#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace zeplo::tool {

// The table of books, exactly as the program expects to find it.
extern const char *const kSchema;

// The catalogue file in a folder.
std::filesystem::path catalogueFile(const std::filesystem::path &dir);

// A failure of the tool; main() prints the message and exits with code 1.
[[noreturn]] void fail(const std::string &message);

// One connection to a catalogue file, closed on destruction.
class Database {
public:
    // Makes a new, empty file (the folder too); fails if the file exists.
    static Database createNew(const std::filesystem::path &file);
    // Opens an existing file for reading and writing.
    static Database openExisting(const std::filesystem::path &file);

    Database(Database &&other) noexcept : db_(other.db_), file_(std::move(other.file_)) { other.db_ = nullptr; }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;
    Database &operator=(Database &&) = delete;
    ~Database();

    sqlite3 *get() const { return db_; }
    const std::filesystem::path &file() const { return file_; }
    void exec(const char *sql);
    // Sets the journal mode and checks that the engine took it.
    void setJournalMode(const char *mode);
    [[noreturn]] void failWithEngineError(const std::string &context) const;

private:
    Database(sqlite3 *db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
    sqlite3 *db_ = nullptr;
    std::filesystem::path file_;
};

// A prepared statement, finalised on destruction.
class Statement {
public:
    Statement(const Database &db, const std::string &sql);
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement();

    void bindNull(int index);
    void bindInt(int index, std::int64_t value);
    // The text must stay alive until the statement has run.
    void bindText(int index, std::string_view text);
    // Runs a statement that returns no rows, then makes it ready to run again.
    // On failure the engine's message is returned, empty on success.
    std::string run();
    // Runs a query and returns the first column of its first row as text.
    std::string firstText();

private:
    const Database &db_;
    sqlite3_stmt *stmt_ = nullptr;
};

// Removes a catalogue file with its journal files.
void removeCatalogueFiles(const std::filesystem::path &file);

// The folder's catalogue: a new empty one in WAL mode.
void createCatalogue(const std::filesystem::path &dir);

// Adds the books of a CSV file to the folder's catalogue (made first when
// missing), all or none. Returns the number of books added.
std::size_t importBooks(const std::filesystem::path &dir, const std::filesystem::path &csvFile);

} // namespace zeplo::tool
