#include "TextDecoding.h"

#include <algorithm>
#include <memory>

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include "SheetRows.h"
#include "books/Books.h"

namespace zeplo::tool {

namespace {

struct ConverterCloser {
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};

// Converts with ICU's converter of that name into `utf8`, stopping at the first
// byte sequence it cannot take (then false). An unknown name fails.
bool convert(std::string_view bytes, const char *name, std::string &utf8)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open(name, &status));
    if (U_FAILURE(status))
        fail(say("unknown encoding \"", "neznámé kódování „") + name + say("\"", "“"));
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);

    std::u16string chunk(std::min<std::size_t>(64 * 1024, bytes.size() + 16), u'\0');
    std::string encoded(3 * chunk.size(), '\0');
    const char *source = bytes.data();
    const char *const end = bytes.data() + bytes.size();
    utf8.clear();
    // Room for the most the text may take, so that it is never moved as it
    // grows; pages it does not fill take no memory.
    utf8.reserve(std::min(3 * bytes.size(), kLargestText) + encoded.size());
    for (;;) {
        UChar *const start = reinterpret_cast<UChar *>(chunk.data());
        UChar *target = start;
        status = U_ZERO_ERROR;
        ucnv_toUnicode(converter.get(), &target, start + chunk.size(), &source, end, nullptr, true, &status);
        int32_t length = 0;
        UErrorCode toUtf8 = U_ZERO_ERROR;
        u_strToUTF8(encoded.data(), static_cast<int32_t>(encoded.size()), &length, start,
                    static_cast<int32_t>(target - start), &toUtf8);
        if (U_FAILURE(toUtf8))
            return false; // a lone surrogate of UTF-16
        utf8.append(encoded.data(), static_cast<std::size_t>(length));
        if (utf8.size() > kLargestText)
            fail(say("the text is larger than 128 MiB in UTF-8, more than a file of books holds",
                     "text je v UTF-8 větší než 128 MiB, víc, než má soubor knih"));
        if (status != U_BUFFER_OVERFLOW_ERROR)
            return U_SUCCESS(status);
    }
}

// The line on which a text read so far ends, counting line ends as CSV does.
int lineAtEnd(std::string_view text)
{
    int line = 1;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++line;
    return line;
}

// Cuts the text before its first C1 control character (U+0080 to U+009F); false
// when it holds none.
bool cutAtControl(std::string &utf8)
{
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
        if (utf8[i] == '\xC2' && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
            utf8.resize(i);
            return true;
        }
    }
    return false;
}

// Tells broken UTF-8 from another encoding: counts the well-formed sequences of
// two or more bytes and the bytes that belong to none.
struct Utf8Census {
    std::size_t multiByte = 0;
    std::size_t bad = 0;
};

Utf8Census utf8Census(std::string_view s)
{
    Utf8Census census;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned b = p[i];
        std::size_t len = b < 0x80 ? 1 : b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k)
            ok = (p[i + k] & 0xC0) == 0x80;
        if (!ok) {
            ++census.bad;
            ++i;
            continue;
        }
        if (len > 1)
            ++census.multiByte;
        i += len;
    }
    return census;
}

[[noreturn]] void badByte(const DecodedText &text)
{
    const std::string &encoding = text.encoding;
    throw BadLine(lineAtEnd(text.utf8),
                  say("the file is not valid " + encoding + " text (another encoding may be named with --encoding)",
                      "soubor není platný text v kódování " + encoding));
}

} // namespace

DecodedText decodeText(std::string_view bytes, const std::string &encoding)
{
    DecodedText text;
    if (!encoding.empty()) {
        text.encoding = encoding;
        // A byte-order mark of the encoding asked for is no part of the text.
        if (!convert(bytes, encoding.c_str(), text.utf8))
            badByte(text);
        if (text.utf8.compare(0, 3, "\xEF\xBB\xBF") == 0)
            text.utf8.erase(0, 3);
        return text;
    }
    const auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    const char *name = nullptr;
    if (starts("\xEF\xBB\xBF")) {
        name = "UTF-8";
        bytes.remove_prefix(3);
    } else if (starts("\xFF\xFE")) {
        name = "UTF-16LE";
        bytes.remove_prefix(2);
    } else if (starts("\xFE\xFF")) {
        name = "UTF-16BE";
        bytes.remove_prefix(2);
    }
    if (!name) {
        // Plain UTF-8, or a UTF-8 file with a few broken bytes, which is refused
        // rather than read as another encoding's letters.
        const Utf8Census census = utf8Census(bytes);
        name = census.bad == 0 || census.multiByte >= census.bad ? "UTF-8" : "windows-1250";
    }
    text.encoding = std::string(name) == "windows-1250" ? "Windows-1250" : name;
    // ICU gives the five bytes that Windows-1250 leaves undefined as control
    // characters, which no text of a spreadsheet holds.
    if (!convert(bytes, name, text.utf8) || (text.encoding == "Windows-1250" && cutAtControl(text.utf8))) {
        if (text.encoding == "Windows-1250")
            throw BadLine(lineAtEnd(text.utf8),
                          say("the file is neither UTF-8 nor UTF-16 with a byte-order mark nor Windows-1250 text "
                              "(another encoding may be named with --encoding)",
                              "soubor není text v kódování UTF-8, UTF-16 se značkou pořadí bajtů ani Windows-1250"));
        badByte(text);
    }
    return text;
}

} // namespace zeplo::tool
