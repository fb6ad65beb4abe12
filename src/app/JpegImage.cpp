#include "app/JpegImage.h"

#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace zeplo {

namespace {

// A progressive stream may hold any number of scans; a sound picture needs a
// few dozen, so far more than that is a damaged or hostile file.
constexpr int kMaxScans = 1000;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Everything libjpeg touches lives here, outside the frame that calls setjmp,
// so nothing in that frame changes between setjmp and a longjmp back to it.
struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
};

// libjpeg's default would print the message and call exit(); jump back
// to the decoder instead.
[[noreturn]] void failExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// Warnings (corrupt data, premature end of file) are counted by libjpeg and
// checked by the decoder; nothing goes to stderr.
void discardMessage(j_common_ptr) {}

void limitScans(j_common_ptr cinfo)
{
    const auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxScans)
        cinfo->err->error_exit(cinfo);
}

bool tooLarge(JDIMENSION width, JDIMENSION height)
{
    return width == 0 || height == 0 || width > static_cast<JDIMENSION>(kJpegMaxSide)
           || height > static_cast<JDIMENSION>(kJpegMaxSide)
           || static_cast<qint64>(width) * static_cast<qint64>(height) > kJpegMaxPixels;
}

void cmykToRgb(const JSAMPLE *in, QRgb *out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4) {
        int c = in[0], m = in[1], y = in[2], k = in[3];
        // Adobe's writers store the inks inverted; others store them plainly.
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
    }
}

// The decompression proper; a libjpeg error jumps straight out of it to
// decodeInto, so it holds only plain values and its own failures just return.
bool decompress(Decoder *dec, const unsigned char *bytes, unsigned long size, QImage *out)
{
    j_decompress_ptr cinfo = &dec->cinfo;
    jpeg_create_decompress(cinfo);
    dec->progress.progress_monitor = limitScans;
    cinfo->progress = &dec->progress;
    // Older libjpeg releases take a non-const buffer; it is only read.
    jpeg_mem_src(cinfo, const_cast<unsigned char *>(bytes), size);

    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK || dec->err.pub.num_warnings != 0
        || tooLarge(cinfo->image_width, cinfo->image_height)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }

    QImage::Format format = QImage::Format_RGB888;
    bool cmyk = false;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        format = QImage::Format_Grayscale8;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        format = QImage::Format_RGB32;
        cmyk = true;
        break;
    default:
        cinfo->out_color_space = JCS_RGB;
        break;
    }

    jpeg_start_decompress(cinfo);
    if (dec->err.pub.num_warnings != 0 || tooLarge(cinfo->output_width, cinfo->output_height)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }

    *out = QImage(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height),
                  format);
    if (out->isNull()) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }

    JSAMPARRAY cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               cinfo->output_width * 4, 1);

    while (cinfo->output_scanline < cinfo->output_height) {
        const int line = static_cast<int>(cinfo->output_scanline);
        JSAMPROW row = cmyk ? cmykRow[0] : out->scanLine(line);
        // The memory source never suspends, so anything short of one line
        // is a failure; a warning means the data was damaged or cut off.
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1 || dec->err.pub.num_warnings != 0) {
            jpeg_destroy_decompress(cinfo);
            return false;
        }
        if (cmyk)
            cmykToRgb(cmykRow[0], reinterpret_cast<QRgb *>(out->scanLine(line)),
                      cinfo->output_width, cinfo->saw_Adobe_marker);
    }

    jpeg_finish_decompress(cinfo);
    const bool clean = dec->err.pub.num_warnings == 0;
    jpeg_destroy_decompress(cinfo);
    return clean;
}

// Sets up the error handling and runs the decompression. Nothing in this
// frame changes after setjmp, so the longjmp back to it is well defined.
bool decodeInto(Decoder *dec, const unsigned char *bytes, unsigned long size, QImage *out)
{
    dec->cinfo.err = jpeg_std_error(&dec->err.pub);
    dec->err.pub.error_exit = failExit;
    dec->err.pub.output_message = discardMessage;
    // jpeg_create_decompress clears this first thing; clearing it here too
    // makes the clean-up below safe whenever the jump comes.
    dec->cinfo.mem = nullptr;

    if (setjmp(dec->err.jump)) {
        jpeg_destroy_decompress(&dec->cinfo);
        return false;
    }
    return decompress(dec, bytes, size, out);
}

} // namespace

QImage decodeJpeg(const QByteArray &data)
{
    if (data.isEmpty())
        return QImage();
    Decoder decoder{};
    QImage image;
    if (!decodeInto(&decoder, reinterpret_cast<const unsigned char *>(data.constData()),
                    static_cast<unsigned long>(data.size()), &image))
        return QImage();
    return image;
}

} // namespace zeplo
