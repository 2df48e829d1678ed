#pragma once
// `strovia describe`: the control's identity and interface, as a table or
// as one JSON object, so integrators can check a build against the
// interface they compiled against.

#include <string>

#include <nlohmann/json.hpp>

namespace strovia::cli {

nlohmann::ordered_json describe_json();
std::string describe_table();

}  // namespace strovia::cli
