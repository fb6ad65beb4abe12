#include "ZipArchive.h"

#include <QTemporaryFile>

#include <zip.h>

#include "XmlGuard.h"
#include "books/Books.h"

namespace zeplo::tool {

namespace {

std::string errorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

std::string mebibytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

class ZipPartDevice : public ZipPart {
public:
    ZipPartDevice(zip_file_t *file, std::uint64_t stated, std::uint64_t limit, bool xml)
        : file_(file), limit_(limit), xml_(xml)
    {
        stated_ = stated;
        QIODevice::open(QIODevice::ReadOnly);
    }
    ~ZipPartDevice() override { zip_fclose(file_); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (!refusal_.empty())
            return -1;
        const zip_int64_t n = zip_fread(file_, data, static_cast<zip_uint64_t>(maxSize));
        if (n < 0) {
            setErrorString(QString::fromUtf8(zip_file_strerror(file_)));
            return -1;
        }
        unpacked_ += static_cast<std::uint64_t>(n);
        // Unpacked bytes are counted, not the sizes the archive gives: a part
        // may say it is small and unpack to gigabytes.
        if (unpacked_ > limit_)
            refusal_ = say("unpacks to more than " + mebibytes(limit_) + ", more than a workbook of books holds",
                           "se rozbalí na víc než " + mebibytes(limit_) + ", víc, než má sešit knih");
        else if (stated_ > 0 && unpacked_ > stated_)
            refusal_ = say("unpacks to more than the " + std::to_string(stated_) + " bytes the zip file says",
                           "se rozbalí na víc než " + std::to_string(stated_) + " bajtů, které uvádí soubor zip");
        else if (xml_)
            refusal_ = guard_.scan(data, static_cast<std::size_t>(n));
        return refusal_.empty() ? n : -1;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    zip_file_t *file_;
    std::uint64_t limit_;
    bool xml_;
    std::uint64_t unpacked_ = 0;
    XmlGuard guard_;
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

std::unique_ptr<ZipPart> ZipReader::open(const std::string &name, std::uint64_t limit, bool xml) const
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive_, name.c_str(), 0, &stat) != 0)
        failOn(name, say("the part is missing", "část chybí"));
    const std::uint64_t stated = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    if (stated > limit)
        failOn(name, say("the part is larger than " + mebibytes(limit) + ", more than a workbook of books holds",
                         "část je větší než " + mebibytes(limit) + ", víc, než má sešit knih"));
    zip_file_t *file = zip_fopen(archive_, name.c_str(), 0);
    if (!file)
        failOn(name, zip_strerror(archive_));
    return std::make_unique<ZipPartDevice>(file, stated, limit, xml);
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
