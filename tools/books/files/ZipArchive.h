#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <string>

#include <QByteArray>

class QIODevice;
class QTemporaryFile;
struct zip;

namespace zeplo::tool {

// The parts of a zip file (the container of .ods and .xlsx workbooks), read
// with libzip.
class ZipReader {
public:
    explicit ZipReader(const std::filesystem::path &file);
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    bool contains(const std::string &name) const;
    // A whole part, checked to be of a size that fits in memory.
    QByteArray read(const std::string &name) const;
    // A part read as it is needed; `size` is its size unpacked.
    std::unique_ptr<QIODevice> open(const std::string &name, std::uint64_t &size) const;

private:
    [[noreturn]] void failOn(const std::string &name, const std::string &why) const;
    std::string fileName_;
    zip *archive_ = nullptr;
};

// A new zip file, written with libzip: nothing is there until commit(), and a
// writer destroyed before it leaves no file.
class ZipWriter {
public:
    // Refuses a file that exists.
    explicit ZipWriter(const std::filesystem::path &file);
    ~ZipWriter();
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    // Adds a part; `store` keeps it uncompressed (the mimetype of an .ods must be).
    void add(const std::string &name, const QByteArray &data, bool store = false);
    // A large part written first to a temporary file, which the writer keeps.
    void add(const std::string &name, std::unique_ptr<QTemporaryFile> file);
    void commit();

private:
    void added(const std::string &name, std::int64_t index, bool store);
    std::string fileName_;
    zip *archive_ = nullptr;
    std::list<QByteArray> buffers_; // libzip reads them at commit
    std::list<std::unique_ptr<QTemporaryFile>> files_;
};

} // namespace zeplo::tool
