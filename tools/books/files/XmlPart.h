#pragma once

#include <memory>
#include <string>

#include <QTemporaryFile>
#include <QXmlStreamWriter>

#include "books/Books.h"

namespace zeplo::tool {

// The large part of a workbook being written (its sheet), written as XML to a
// temporary file so that no number of books has to fit in memory.
class XmlPart {
public:
    XmlPart() : file_(std::make_unique<QTemporaryFile>())
    {
        if (!file_->open())
            fail(say("cannot make a temporary file: ", "nelze vytvořit dočasný soubor: ")
                 + file_->errorString().toStdString());
        xml.setDevice(file_.get());
        xml.writeStartDocument(QStringLiteral("1.0"), true);
    }
    // The finished part, for ZipWriter.
    std::unique_ptr<QTemporaryFile> finish()
    {
        xml.writeEndDocument();
        if (xml.hasError() || !file_->flush())
            fail(say("cannot write a temporary file: ", "nelze zapsat dočasný soubor: ")
                 + file_->errorString().toStdString());
        return std::move(file_);
    }

    QXmlStreamWriter xml;

private:
    std::unique_ptr<QTemporaryFile> file_;
};

// The id that names a book in messages.
inline std::string bookName(const Book &book)
{
    return book[0].null ? say("a book without id", "kniha bez id")
                        : say("the book with id ", "kniha s id ") + std::to_string(book[0].number);
}

} // namespace zeplo::tool
