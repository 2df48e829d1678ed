#pragma once
// A posture's rows read once, as a value: the row fileOpen's lookup finds
// and the rows of the table its programme plays. The widget's progress,
// the course check and the export read them here, so they cannot count
// differently; the control itself reads its rows through Db and Rs, one at
// a time, as its routines define.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/engine.hpp"
#include "catalogue/rules.hpp"

namespace strovia::catalogue {

// The posture's row of the posture table, as fileOpen's lookup finds it.
struct PostureRow {
    Result<FieldValue> asana_id = Error{};
    Result<FieldValue> disp_type = Error{};
    Result<FieldValue> video_name = Error{};
};

// The first row the lookup of `name` finds; kNoCurrentRecord when none.
Result<PostureRow> look_up_posture(Database& db, std::string_view name);

// Each field as the engine gives it (an error when it is missing).
struct SegmentRow {
    Result<FieldValue> filename = Error{};
    Result<FieldValue> action = Error{};
    Result<FieldValue> start_pos = Error{};
    Result<FieldValue> end_pos = Error{};
    Result<FieldValue> filelen = Error{};

    Result<std::string> narration() const;
    Result<std::int16_t> start() const;
    // The five fields converted as the programme loads them; the first that
    // fails, named ("StartPos: Overflow").
    Status whole() const;
};

struct PhotoRow {
    Result<FieldValue> mp2name = Error{};
    Result<FieldValue> image_name = Error{};

    Result<std::string> narration() const;
    Result<std::string> picture() const;
    // A row after the first is shown only when it names a narration; the
    // programme passes over the others.
    bool shown_after_first() const;
};

struct ProgrammeRows {
    bool video = false;
    std::string table;                // "Audio_Asana7", "Photo_Asana4"
    std::optional<Error> unreadable;  // the table's query failed
    std::vector<SegmentRow> segments;
    std::vector<PhotoRow> photos;

    int rows() const { return static_cast<int>(video ? segments.size() : photos.size()); }
    // The segments or pictures the programme shows from these rows: every
    // segment row; the first photo row and each later one with a narration
    // name; in a photo preview every photo row.
    int parts(bool photo_preview = false) const;
};

// The segment table (`video`) or the photo table of the posture numbered
// `asana_id`, in the order the row set delivers it.
ProgrammeRows read_programme_rows(Database& db, const FieldValue& asana_id, bool video);

}  // namespace strovia::catalogue
