#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <string>

#include <QByteArray>
#include <QIODevice>

class QTemporaryFile;
struct zip;

namespace zeplo::tool {

// A part of a zip file as it is read: unpacked a piece at a time and counted,
// whatever the archive says of its size, against the limit it was opened with
// and against the size the archive states; an XML part is watched on its way
// by XmlGuard. A part that goes past either ends there: it reads as ended,
// and refusal() says why, as what the part does ("unpacks to more than ...").
class ZipPart : public QIODevice {
public:
    const std::string &refusal() const { return refusal_; }
    // What the archive says the part unpacks to (0 when it does not say), for progress.
    std::uint64_t statedSize() const { return stated_; }

protected:
    std::string refusal_;
    std::uint64_t stated_ = 0;
};

// The parts of a zip file (the container of .ods and .xlsx workbooks), read
// with libzip.
class ZipReader {
public:
    explicit ZipReader(const std::filesystem::path &file);
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    bool contains(const std::string &name) const;
    // A part read as it is needed, refused once it unpacks to more than `limit`
    // bytes; `xml` watches it as XML.
    std::unique_ptr<ZipPart> open(const std::string &name, std::uint64_t limit, bool xml = true) const;

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
