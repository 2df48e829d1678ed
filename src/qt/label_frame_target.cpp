#include "qt/label_frame_target.hpp"

#include <QMetaObject>
#include <QPixmap>

#include "qt/picture_view.hpp"

namespace strovia::qt {

LabelFrameTarget::LabelFrameTarget(QLabel* label)
    : label_(label), view_(qobject_cast<PictureView*>(label)) {}

void LabelFrameTarget::present(const mci::Frame& frame) {
    const QImage pixels(frame.data, frame.width, frame.height, frame.stride,
                        QImage::Format_RGBX8888);
    QImage copy = pixels.convertToFormat(QImage::Format_RGB32);
    const std::uint64_t arrived_in = view_ != nullptr ? view_->frame_epoch() : 0;
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->frame = std::move(copy);
        mailbox_->epoch = arrived_in;
        if (mailbox_->posted) return;  // the queued call will take this one
        mailbox_->posted = true;
    }
    // Not run if the label is deleted first.
    QMetaObject::invokeMethod(
        label_,
        [label = label_, view = view_, mailbox = mailbox_] {
            QImage newest;
            std::uint64_t epoch = 0;
            {
                std::lock_guard lock(mailbox->mutex);
                newest = std::move(mailbox->frame);
                epoch = mailbox->epoch;
                mailbox->posted = false;
            }
            if (view != nullptr) {
                view->show_frame(std::move(newest), epoch);
            } else {
                label->setPixmap(QPixmap::fromImage(std::move(newest)));
            }
        },
        Qt::QueuedConnection);
}

}  // namespace strovia::qt
