#pragma once
// Picture1 as it is painted: the current picture or video frame, scaled to
// fit the box and letterboxed, or at its own size at the top left.

#include <QImage>
#include <QLabel>
#include <QRectF>

#include <atomic>
#include <cstdint>

namespace strovia::qt {

// A label, so that hosts that know Picture1 as a label keep working. While
// it holds no image it paints as a plain label (its text, its background).
class PictureView : public QLabel {
    Q_OBJECT

public:
    explicit PictureView(QWidget* parent = nullptr);

    // A picture, or a null image to clear. QImage shares its pixels, so
    // handing one over copies nothing. RGB32 paints fastest.
    void set_image(QImage image);
    const QImage& image() const { return image_; }

    // Video frames: a frame target reads the epoch on its streaming thread
    // when a frame arrives and shows the frame with it later. A picture or
    // a clear in between changes the epoch, so a frame of a video that has
    // since been closed never covers what replaced it.
    std::uint64_t frame_epoch() const { return epoch_.load(std::memory_order_acquire); }
    void show_frame(QImage frame, std::uint64_t epoch);

    // True (the default): scaled to fit, aspect ratio kept, centred, the
    // rest black. False: at its own size at the top left, nothing scaled.
    void set_scaled(bool scaled);
    bool scaled() const { return scaled_; }

    // Painted flipped left to right, where it lands (for following a
    // teacher as in a mirror); the image itself is left as it is.
    void set_mirrored(bool mirrored);
    bool mirrored() const { return mirrored_; }

    // Where the image lands, in the view's coordinates; on whole device
    // pixels, so that a high-density screen gets its full sharpness.
    QRectF image_rect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void put_image(QImage image);

    std::atomic<std::uint64_t> epoch_{0};
    QImage image_;
    // The image reduced to more than half: made once per image and size.
    QImage reduced_;
    qint64 reduced_from_ = 0;
    bool scaled_ = true;
    bool mirrored_ = false;
};

// Shows `image` in `label`: as it is in a PictureView, as a pixmap at its
// own size in a plain label. A null image clears the picture.
void show_image(QLabel* label, QImage image);

}  // namespace strovia::qt
