#pragma once
// The postures of a course as the player lists them: read from the
// catalogue through the same engine and query texts the control uses.

#include <string>
#include <vector>

#include "catalogue/engine.hpp"
#include "control/error.hpp"

namespace strovia::player {

struct Posture {
    std::string name;
    bool video = false;  // as fileOpen decides: Disp_Type is exactly "Video"
};

// Every posture of the catalogue under `resourcedir`, in table order. The
// catalogue is opened shared and read-only and closed before returning, so
// that the control can open it exclusively afterwards.
Result<std::vector<Posture>> read_postures(CatalogueEngine& engine, const std::string& resourcedir);

}  // namespace strovia::player
