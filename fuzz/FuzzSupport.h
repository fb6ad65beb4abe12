#pragma once

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>

#include "engine/Error.h"
#include "report/EmfPlayer.h"
#include "report/EmfRecords.h"

namespace zeplo::fuzz {

// Text drawing needs a GUI application; the offscreen platform needs no display.
inline void startApplication()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zeplo-fuzz";
    static char *argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

// Plays a picture onto a small page the way the preview does; a damaged
// picture may only end in zeplo::Error.
inline void playOntoPage(const QByteArray &emf)
{
    static QImage page(120, 170, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    try {
        playEmf(emf, painter, QRectF(4, 4, 112, 162));
    } catch (const Error &) {
    }
}

} // namespace zeplo::fuzz
