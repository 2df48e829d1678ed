#pragma once
// The rows of the programme that just started, read once at the start for
// the widget's part count.

#include <memory>
#include <string_view>

#include "catalogue/engine.hpp"
#include "catalogue/posture_rows.hpp"
#include "control/engine_holder.hpp"

namespace strovia::qt {

// Reads the posture's segment table (`video`) or photo table through the
// catalogue the control holds, or, once the control has closed it (a
// one-row table is used up at the start), through an opening of its own.
// Nothing readable gives no rows.
catalogue::ProgrammeRows read_programme_rows(EngineHolder& engines,
                                             const std::shared_ptr<Database>& held,
                                             std::string_view resourcedir, std::string_view posture,
                                             bool video);

}  // namespace strovia::qt
