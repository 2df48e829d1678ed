#pragma once
// The platform parts a command-line host plugs into the control: the media
// channel with its devices, and the catalogue engine.

#include <memory>

#include "catalogue/engine.hpp"
#include "control/error.hpp"
#include "playback/media.hpp"

class QLabel;

namespace strovia::cli {

struct Media {
    std::shared_ptr<void> keep_alive;  // whatever the channel needs to live
    MediaChannel* channel = nullptr;
};

// The interpreter with its devices; video frames go to `picture1` unless
// headless.
Result<std::shared_ptr<Media>> make_media(QLabel* picture1, std::int64_t handle, bool headless);

std::unique_ptr<CatalogueEngine> make_catalogue_engine();

}  // namespace strovia::cli
