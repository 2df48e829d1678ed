#pragma once
// The catalogue's location, its password and the three query texts.

#include <string>
#include <string_view>

#include "catalogue/field.hpp"

namespace strovia::catalogue {

inline constexpr std::string_view kConnect = ";PWD=Mint3laneKK;";

// The content folder followed directly by "\video\AVPelmo.mdb", unchanged.
std::string catalogue_path(std::string_view resourcedir);

// Looks a posture up by name. A double quote inside the name is doubled so
// the name is looked up literally instead of breaking the query.
std::string posture_lookup(std::string_view name);

// The segment and photo tables of a posture: its AsanaID as text, directly
// appended. A value that has no text (null, or never read) appends nothing.
std::string segment_rows(const FieldValue& asana_id);
std::string photo_rows(const FieldValue& asana_id);

}  // namespace strovia::catalogue
