#pragma once
// Paints a video device's frames in a label (the control's Picture1).

#include <QLabel>
#include <QPointer>

#include "mci/frame_target.hpp"

namespace strovia::qt {

// Frames arrive on a media streaming thread: each is copied and handed to
// the label's thread, where the label may already be gone.
class LabelFrameTarget final : public mci::FrameTarget {
public:
    explicit LabelFrameTarget(QLabel* label) : label_(label) {}
    void present(const mci::Frame& frame) override;

private:
    QPointer<QLabel> label_;
};

}  // namespace strovia::qt
