#include "strovia/media_factory.hpp"

#include <QLabel>

#include "jet/engine.hpp"
#include "mci/interpreter.hpp"
#include "qt/label_frame_target.hpp"

namespace strovia::cli {
namespace {

struct InterpreterMedia {
    std::unique_ptr<mci::Interpreter> interpreter;
    std::unique_ptr<qt::LabelFrameTarget> target;
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
        owned->target = std::make_unique<qt::LabelFrameTarget>(picture1);
        owned->interpreter->register_frame_target(handle, owned->target.get());
    }
    auto media = std::make_shared<Media>();
    media->channel = owned->interpreter.get();
    media->keep_alive = owned;
    return media;
}

std::unique_ptr<CatalogueEngine> make_catalogue_engine() { return jet::make_engine(); }

}  // namespace strovia::cli
