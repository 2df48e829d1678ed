// Video frames on their way to Picture1's view: taken on another thread,
// converted, only the newest shown, and never over a later clear or picture.

#include <QApplication>
#include <QImage>

#include <thread>

#include <gtest/gtest.h>

#include "qt/label_frame_target.hpp"
#include "qt/picture_view.hpp"

namespace strovia::qt {
namespace {

// Delivers a flat frame as a device does: RGBx, from its own thread, the
// pixels valid only during the call.
void deliver(LabelFrameTarget& target, QColor colour) {
    std::thread([&] {
        QImage pixels(64, 48, QImage::Format_RGBX8888);
        pixels.fill(colour);
        target.present({pixels.constBits(), pixels.width(), pixels.height(),
                        static_cast<int>(pixels.bytesPerLine())});
        pixels.fill(Qt::black);  // the device reuses its buffer
    }).join();
}

QColor shown(const PictureView& view) {
    return view.image().isNull() ? QColor() : view.image().pixelColor(10, 10);
}

TEST(FrameTarget, NewestFrameShownButNeverOverALaterClearOrPicture) {
    PictureView view;
    LabelFrameTarget target(&view);
    deliver(target, QColor(200, 30, 10));
    deliver(target, QColor(10, 30, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(view), QColor(10, 30, 200)) << "the newest, colours kept";

    // The host clears, or shows a picture, before a frame that came earlier
    // reaches the view: that frame belongs to a video already closed.
    deliver(target, QColor(200, 30, 10));
    show_image(&view, {});
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown(view).isValid());

    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(QColor(0, 250, 0));
    deliver(target, QColor(200, 30, 10));
    show_image(&view, picture);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(view), QColor(0, 250, 0));

    // A frame after them shows.
    deliver(target, QColor(10, 30, 200));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(view), QColor(10, 30, 200));
}

}  // namespace
}  // namespace strovia::qt
