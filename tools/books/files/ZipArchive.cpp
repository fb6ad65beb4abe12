#include "ZipArchive.h"

#include <QIODevice>
#include <QTemporaryFile>

#include <zip.h>

#include "books/Books.h"

namespace zeplo::tool {

namespace {

// A part as big as the books of a very large workbook, and not more: a part
// that says it unpacks to more is no workbook of books but a trap.
constexpr std::uint64_t kLargestPart = 1024ull * 1024 * 1024;

std::string errorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// One part of the archive as a sequential device, for the XML reader.
class ZipPartDevice : public QIODevice {
public:
    explicit ZipPartDevice(zip_file_t *file) : file_(file) { QIODevice::open(QIODevice::ReadOnly); }
    ~ZipPartDevice() override { zip_fclose(file_); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const zip_int64_t n = zip_fread(file_, data, static_cast<zip_uint64_t>(maxSize));
        if (n < 0)
            setErrorString(QString::fromUtf8(zip_file_strerror(file_)));
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    zip_file_t *file_;
};

} // namespace

ZipReader::ZipReader(const std::filesystem::path &file) : fileName_(file.string())
{
    int code = 0;
    archive_ = zip_open(fileName_.c_str(), ZIP_RDONLY, &code);
    if (!archive_)
        fail(fileName_ + say(": not a workbook that can be read (", ": sešit nelze přečíst (") + errorText(code)
             + ")");
}

ZipReader::~ZipReader()
{
    if (archive_)
        zip_discard(archive_);
}

void ZipReader::failOn(const std::string &name, const std::string &why) const
{
    fail(fileName_ + ": " + name + ": " + why);
}

bool ZipReader::contains(const std::string &name) const { return zip_name_locate(archive_, name.c_str(), 0) >= 0; }

std::unique_ptr<QIODevice> ZipReader::open(const std::string &name, std::uint64_t &size) const
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive_, name.c_str(), 0, &stat) != 0)
        failOn(name, say("the part is missing", "část chybí"));
    size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    zip_file_t *file = zip_fopen(archive_, name.c_str(), 0);
    if (!file)
        failOn(name, zip_strerror(archive_));
    return std::make_unique<ZipPartDevice>(file);
}

QByteArray ZipReader::read(const std::string &name) const
{
    std::uint64_t size = 0;
    const std::unique_ptr<QIODevice> part = open(name, size);
    if (size > kLargestPart)
        failOn(name, say("the part is too large", "část je příliš velká"));
    QByteArray data = part->read(static_cast<qint64>(size));
    if (static_cast<std::uint64_t>(data.size()) != size)
        failOn(name, part->errorString().toStdString());
    return data;
}

ZipWriter::ZipWriter(const std::filesystem::path &file) : fileName_(file.string())
{
    int code = 0;
    archive_ = zip_open(fileName_.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
    if (!archive_) {
        if (code == ZIP_ER_EXISTS)
            fail(fileName_ + say(" already exists; an export never overwrites a file",
                                 " už existuje; export nikdy nepřepisuje soubor"));
        fail(say("cannot write ", "nelze zapsat ") + fileName_ + ": " + errorText(code));
    }
}

ZipWriter::~ZipWriter()
{
    if (archive_)
        zip_discard(archive_);
}

void ZipWriter::added(const std::string &name, std::int64_t index, bool store)
{
    if (index < 0
        || zip_set_file_compression(archive_, static_cast<zip_uint64_t>(index), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                    0)
               != 0)
        fail(say("cannot write ", "nelze zapsat ") + fileName_ + ": " + name + ": " + zip_strerror(archive_));
}

void ZipWriter::add(const std::string &name, const QByteArray &data, bool store)
{
    const QByteArray &kept = buffers_.emplace_back(data);
    zip_source_t *source = zip_source_buffer(archive_, kept.constData(), static_cast<zip_uint64_t>(kept.size()), 0);
    const zip_int64_t index = source ? zip_file_add(archive_, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0 && source)
        zip_source_free(source);
    added(name, index, store);
}

void ZipWriter::add(const std::string &name, std::unique_ptr<QTemporaryFile> file)
{
    const QTemporaryFile &kept = *files_.emplace_back(std::move(file));
    const QByteArray path = QFile::encodeName(kept.fileName());
    zip_source_t *source = zip_source_file(archive_, path.constData(), 0, -1);
    const zip_int64_t index = source ? zip_file_add(archive_, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0 && source)
        zip_source_free(source);
    added(name, index, false);
}

void ZipWriter::commit()
{
    if (zip_close(archive_) != 0)
        fail(say("cannot write ", "nelze zapsat ") + fileName_ + ": " + zip_strerror(archive_));
    archive_ = nullptr;
}

} // namespace zeplo::tool
