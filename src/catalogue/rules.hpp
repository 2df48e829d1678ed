#pragma once
// The catalogue's rules, written once: where the catalogue lies, its
// password, the tables and fields the control reads, the query texts, and
// how a posture's display type decides what fileOpen and Preview show. The
// control, the course object and its checker, the demo course and the
// player all take them from here, so they cannot disagree.

#include <string>
#include <string_view>

#include "catalogue/field.hpp"

namespace strovia::catalogue {

// The catalogue is the content folder followed directly by this, unchanged.
inline constexpr std::string_view kCatalogueInContent = "\\video\\AVPelmo.mdb";
std::string catalogue_path(std::string_view resourcedir);

inline constexpr std::string_view kPassword = "Mint3laneKK";
inline constexpr std::string_view kConnect = ";PWD=Mint3laneKK;";
static_assert(kConnect.starts_with(";PWD=") && kConnect.ends_with(";") &&
              kConnect.substr(5, kConnect.size() - 6) == kPassword);

// One row per posture; a posture's segments or pictures sit in the table
// named by the prefix and its AsanaID.
inline constexpr std::string_view kPostureTable = "Asanas";
inline constexpr std::string_view kSegmentTablePrefix = "Audio_Asana";
inline constexpr std::string_view kPhotoTablePrefix = "Photo_Asana";

// Field names, matched by the engine without regard to case.
namespace field {
// Asanas
inline constexpr std::string_view kName = "name";
inline constexpr std::string_view kAsanaID = "AsanaID";
inline constexpr std::string_view kDispType = "Disp_Type";
inline constexpr std::string_view kVideoName = "VideoName";
// Segment tables
inline constexpr std::string_view kFilename = "Filename";
inline constexpr std::string_view kAction = "Action";
inline constexpr std::string_view kStartPos = "StartPos";
inline constexpr std::string_view kEndPos = "EndPos";
inline constexpr std::string_view kFilelen = "Filelen";
// Photo tables
inline constexpr std::string_view kMp2name = "Mp2name";
inline constexpr std::string_view kImageName = "ImageName";
}  // namespace field

// The AsanaID as the text that follows a table prefix; a value that has no
// text (null, or never read) gives nothing.
std::string table_number(const FieldValue& asana_id);
std::string segment_table(const FieldValue& asana_id);
std::string photo_table(const FieldValue& asana_id);

// Looks a posture up by name. A double quote inside the name is doubled so
// the name is looked up literally instead of breaking the query.
std::string posture_lookup(std::string_view name);
// Every posture, in the table's own order (for listing a course).
std::string all_postures();
// A posture's segment or photo rows.
std::string segment_rows(const FieldValue& asana_id);
std::string photo_rows(const FieldValue& asana_id);

// Display types. fileOpen plays a video only for exactly kVideoType; a
// catalogue marks pictures with kPhotoType, which Preview takes in any case.
inline constexpr std::string_view kVideoType = "Video";
inline constexpr std::string_view kPhotoType = "Photo";

enum class Shows { Video, Photo };

// fileOpen: a video programme only for text that is exactly "Video"; null,
// a number or any other text gives the photo programme.
bool opens_as_video(const FieldValue& disp_type);
// Preview: pictures when Disp_Type, read as text, upper-cases (ASCII) to
// "PHOTO"; the video otherwise.
bool previews_as_photo(std::string_view disp_type_text);

// Both rules on Disp_Type as a row gives it (an error when the field is
// missing): what fileOpen shows, which never fails, and what Preview
// shows or the error with which it fails (a null or missing Disp_Type).
Shows file_open_shows(const Result<FieldValue>& disp_type);
Result<Shows> preview_shows(const Result<FieldValue>& disp_type);

}  // namespace strovia::catalogue
