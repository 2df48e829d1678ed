#include "qt/label_frame_target.hpp"

#include <QMetaObject>

#include "qt/picture_view.hpp"

namespace strovia::qt {

void LabelFrameTarget::present(const mci::Frame& frame) {
    const QImage pixels(frame.data, frame.width, frame.height, frame.stride,
                        QImage::Format_RGBX8888);
    QImage copy = pixels.convertToFormat(QImage::Format_RGB32);
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->frame = std::move(copy);
        if (mailbox_->posted) return;  // the queued call will take this one
        mailbox_->posted = true;
    }
    // Not run if the label is deleted first.
    QMetaObject::invokeMethod(
        label_,
        [label = label_, mailbox = mailbox_] {
            QImage newest;
            {
                std::lock_guard lock(mailbox->mutex);
                newest = std::move(mailbox->frame);
                mailbox->posted = false;
            }
            show_image(label, std::move(newest));
        },
        Qt::QueuedConnection);
}

}  // namespace strovia::qt
