#include "qt/label_frame_target.hpp"

#include <QImage>
#include <QMetaObject>
#include <QPixmap>

namespace strovia::qt {

void LabelFrameTarget::present(const mci::Frame& frame) {
    const QImage image(frame.data, frame.width, frame.height, frame.stride,
                       QImage::Format_RGBX8888);
    QImage copy = image.copy();
    QPointer<QLabel> label = label_;
    if (!label) return;
    QMetaObject::invokeMethod(
        label.data(),
        [label, copy = std::move(copy)] {
            if (label) label->setPixmap(QPixmap::fromImage(copy));
        },
        Qt::QueuedConnection);
}

}  // namespace strovia::qt
