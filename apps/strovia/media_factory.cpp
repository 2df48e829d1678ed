#include "strovia/media_factory.hpp"

#include <QImage>
#include <QLabel>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>

#include "jet/engine.hpp"
#include "mci/interpreter.hpp"

namespace strovia::cli {
namespace {

// Paints the video's frames in Picture1. Frames arrive on a streaming
// thread: each is copied and handed to the UI thread, where the label may
// already be gone.
class LabelFrameTarget final : public mci::FrameTarget {
public:
    explicit LabelFrameTarget(QLabel* label) : label_(label) {}
    void present(const mci::Frame& frame) override {
        QImage image(frame.data, frame.width, frame.height, frame.stride, QImage::Format_RGBX8888);
        QImage copy = image.copy();
        QPointer<QLabel> label = label_;
        QMetaObject::invokeMethod(
            label_.data(),
            [label, copy = std::move(copy)] {
                if (label) label->setPixmap(QPixmap::fromImage(copy));
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<QLabel> label_;
};

struct InterpreterMedia {
    std::unique_ptr<mci::Interpreter> interpreter;
    std::unique_ptr<LabelFrameTarget> target;
    std::int64_t handle = 0;
    ~InterpreterMedia() {
        if (interpreter && target) interpreter->unregister_frame_target(handle);
    }
};

}  // namespace

Result<std::shared_ptr<Media>> make_media(QLabel* picture1, std::int64_t handle, bool headless) {
    auto made = mci::Interpreter::create({});
    if (!made) return made.error();
    auto owned = std::make_shared<InterpreterMedia>();
    owned->interpreter = std::move(made).value();
    owned->handle = handle;
    if (!headless && picture1) {
        owned->target = std::make_unique<LabelFrameTarget>(picture1);
        owned->interpreter->register_frame_target(handle, owned->target.get());
    }
    auto media = std::make_shared<Media>();
    media->channel = owned->interpreter.get();
    media->keep_alive = owned;
    return media;
}

std::unique_ptr<CatalogueEngine> make_catalogue_engine() { return jet::make_engine(); }

}  // namespace strovia::cli
