#pragma once
// Paints a video device's frames in a label (the control's Picture1).

#include <QImage>
#include <QLabel>

#include <cstdint>
#include <memory>
#include <mutex>

#include "mci/frame_target.hpp"

namespace strovia::qt {

class PictureView;

// Frames arrive on a media streaming thread, where a frame's pixels are
// valid only during present(): each is copied there, converted to the
// format the screen paints fastest in the same pass. Only the newest frame
// waits for the label's thread, so a busy user-interface thread drops
// frames instead of queueing them. A PictureView paints the frame as it
// is, unless a picture or a clear came after it; a plain label gets it as
// a pixmap at its own size.
//
// The label must outlive the target's registration with the interpreter.
class LabelFrameTarget final : public mci::FrameTarget {
public:
    explicit LabelFrameTarget(QLabel* label);
    void present(const mci::Frame& frame) override;

private:
    struct Mailbox {
        std::mutex mutex;
        QImage frame;
        std::uint64_t epoch = 0;
        bool posted = false;
    };
    QLabel* label_;
    PictureView* view_;  // the label, when it is one
    // Shared with the queued call, which may run after the target is gone.
    std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
};

}  // namespace strovia::qt
