#include <QSaveFile>

#include "BookWriter.h"
#include "Csv.h"

namespace zeplo::tool {

namespace {

// Lines end in CR LF; no value is an empty field and an empty text "".
class CsvWriter : public BookWriter {
public:
    CsvWriter(const std::filesystem::path &file, bool forSpreadsheet)
        : name_(file.string()), file_(QString::fromStdString(name_)), separator_(forSpreadsheet ? ';' : ',')
    {
        requireNewFile(file);
        if (!file_.open(QIODevice::WriteOnly))
            failWriting();
        if (forSpreadsheet)
            chunk_ = "\xEF\xBB\xBF";
        for (std::size_t i = 0; i < kColumnCount; ++i)
            chunk_ += (i ? std::string(1, separator_) : std::string()) + kColumns[i].name;
        chunk_ += "\r\n";
    }

    void add(const Book &book) override
    {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (i)
                chunk_ += separator_;
            const Value &value = book[i];
            if (value.null)
                continue; // an empty field, unquoted
            if (holdsText(kColumns[i].kind))
                appendCsvField(chunk_, value.text, separator_, true);
            else
                chunk_ += std::to_string(value.number);
        }
        chunk_ += "\r\n";
        if (chunk_.size() >= 256 * 1024)
            flush();
    }

    void commit() override
    {
        flush();
        if (!file_.commit())
            failWriting();
    }

private:
    void flush()
    {
        if (file_.write(chunk_.data(), static_cast<qint64>(chunk_.size())) != static_cast<qint64>(chunk_.size()))
            failWriting();
        chunk_.clear();
    }
    [[noreturn]] void failWriting()
    {
        fail(say("cannot write ", "nelze zapsat ") + name_ + ": " + file_.errorString().toStdString());
    }

    std::string name_;
    QSaveFile file_;
    char separator_;
    std::string chunk_;
};

} // namespace

std::unique_ptr<BookWriter> createCsvFile(const std::filesystem::path &file, bool forSpreadsheet)
{
    return std::make_unique<CsvWriter>(file, forSpreadsheet);
}

} // namespace zeplo::tool
