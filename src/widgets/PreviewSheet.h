#pragma once

#include <QByteArray>
#include <QWidget>

namespace zeplo {

// The sheet of paper in the preview: white, with the page picture stretched
// over it, a one-pixel black border and a two-pixel black shadow along the
// right and bottom edges. It holds only the picture of the page on screen.
class PreviewSheet : public QWidget {
public:
    // Border and shadow together widen and heighten the sheet by this much.
    static constexpr int Decoration = 4;

    explicit PreviewSheet(QWidget *parent = nullptr);

    void setPicture(const QByteArray &emf);
    void clearPicture();
    bool hasPicture() const { return !picture_.isEmpty(); }
    const QByteArray &picture() const { return picture_; }

    // The rectangle the page picture is stretched onto.
    QRect pageRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QByteArray picture_;
    bool pictureFailed_ = false;
};

} // namespace zeplo
