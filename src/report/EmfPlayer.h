#pragma once

#include <QByteArray>
#include <QRectF>

class QPainter;

namespace zeplo {

// Draws the picture with its frame stretched onto `target`. Records it does not
// draw are skipped; a damaged picture throws Error, possibly after part
// of it has been drawn. The painter's state is restored either way.
void playEmf(const QByteArray &emf, QPainter &painter, const QRectF &target);

// Reads every record of the picture as playEmf() does, drawing nothing:
// throws the Error playEmf() would throw for a damaged picture.
void checkEmf(const QByteArray &emf);

} // namespace zeplo
