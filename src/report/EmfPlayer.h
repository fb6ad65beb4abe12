#pragma once

#include <QByteArray>
#include <QRectF>

class QPainter;

namespace zeplo {

// Draws the picture with its frame stretched onto `target`. Records it does not
// draw are skipped; a damaged picture throws Error, possibly after part
// of it has been drawn. The painter's state is restored either way.
void playEmf(const QByteArray &emf, QPainter &painter, const QRectF &target);

} // namespace zeplo
