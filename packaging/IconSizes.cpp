// Writes the About window's picture as the desktop icon in the usual sizes:
//   zeplo_icon_sizes PICTURE OUTDIR SIZE...
// makes OUTDIR/<SIZE>x<SIZE>/apps/zeplo.png for each SIZE. The picture's own
// size is copied byte for byte; whole multiples of it are enlarged pixel for
// pixel, so the drawing stays sharp; other sizes are scaled smoothly.
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PICTURE OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QImage picture(source);
    if (picture.isNull() || picture.width() != picture.height()) {
        std::fprintf(stderr, "%s: not a square picture\n", argv[1]);
        return 1;
    }
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "not a size: %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QString target = dir + QStringLiteral("/zeplo.png");
        QFile::remove(target);
        bool written = false;
        if (!QDir().mkpath(dir)) {
            written = false;
        } else if (size == picture.width()) {
            written = QFile::copy(source, target);
        } else {
            const Qt::TransformationMode mode =
                size % picture.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
            written = argb.scaled(size, size, Qt::IgnoreAspectRatio, mode).save(target, "PNG");
        }
        if (!written) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}
