#pragma once
// How many segments or pictures the programme that just started has, and
// where each segment begins: read once, at the start, for the widget's
// progress.

#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "catalogue/engine.hpp"
#include "control/engine_holder.hpp"

namespace strovia::qt {

struct ProgrammeRows {
    int count = 0;
    // StartPos of each segment row, kUnreadable where it cannot be read.
    std::vector<std::int32_t> starts;
    static constexpr std::int32_t kUnreadable = INT32_MIN;
};

// Reads the posture's segment table (`video`) or photo table through the
// catalogue the control holds, or, once the control has closed it (a
// one-row table is used up at the start), through an opening of its own.
// Nothing readable gives a count of 0.
ProgrammeRows read_programme_rows(EngineHolder& engines, const std::shared_ptr<Database>& held,
                                  std::string_view resourcedir, std::string_view posture,
                                  bool video);

}  // namespace strovia::qt
