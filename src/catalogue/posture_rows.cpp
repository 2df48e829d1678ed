#include "catalogue/posture_rows.hpp"

namespace strovia::catalogue {
namespace {

Result<std::string> text_of(const Result<FieldValue>& v) {
    if (!v) return v.error();
    return field_as_text(*v);
}

Error named(std::string_view field, const Error& e) {
    return {e.number, std::string(field) + ": " + e.text};
}

}  // namespace

Result<PostureRow> look_up_posture(Database& db, std::string_view name) {
    auto rs = db.open_recordset(posture_lookup(name));
    if (!rs) return rs.error();
    Recordset& found = **rs;
    Result<PostureRow> out = Error{};
    if (auto first = found.move_first(); !first) {
        out = first.error();
    } else {
        out = PostureRow{found.field(field::kAsanaID), found.field(field::kDispType),
                         found.field(field::kVideoName)};
    }
    (void)found.close();
    return out;
}

Result<std::string> SegmentRow::narration() const { return text_of(filename); }

Result<std::int16_t> SegmentRow::start() const {
    if (!start_pos) return start_pos.error();
    return field_as_int16(*start_pos);
}

Status SegmentRow::whole() const {
    if (auto t = text_of(filename); !t) return named(field::kFilename, t.error());
    if (auto t = text_of(action); !t) return named(field::kAction, t.error());
    for (auto [name, value] :
         {std::pair{field::kStartPos, &start_pos}, {field::kEndPos, &end_pos}}) {
        auto n = *value ? field_as_int16(**value) : Result<std::int16_t>(value->error());
        if (!n) return named(name, n.error());
    }
    auto d = filelen ? field_as_double(*filelen) : Result<double>(filelen.error());
    if (!d) return named(field::kFilelen, d.error());
    return {};
}

Result<std::string> PhotoRow::narration() const { return text_of(mp2name); }
Result<std::string> PhotoRow::picture() const { return text_of(image_name); }

bool PhotoRow::shown_after_first() const {
    auto n = narration();
    return n && !n->empty();
}

int ProgrammeRows::parts(bool photo_preview) const {
    if (video) return static_cast<int>(segments.size());
    if (photos.empty()) return 0;
    if (photo_preview) return static_cast<int>(photos.size());
    int n = 1;
    for (std::size_t i = 1; i < photos.size(); ++i) n += photos[i].shown_after_first();
    return n;
}

ProgrammeRows read_programme_rows(Database& db, const FieldValue& asana_id, bool video) {
    ProgrammeRows out;
    out.video = video;
    out.table = video ? segment_table(asana_id) : photo_table(asana_id);
    auto rs = db.open_recordset(video ? segment_rows(asana_id) : photo_rows(asana_id));
    if (!rs) {
        out.unreadable = rs.error();
        return out;
    }
    Recordset& rows = **rs;
    for (Status s = rows.move_first(); s && !rows.eof(); s = rows.move_next()) {
        if (video) {
            out.segments.push_back({rows.field(field::kFilename), rows.field(field::kAction),
                                    rows.field(field::kStartPos), rows.field(field::kEndPos),
                                    rows.field(field::kFilelen)});
        } else {
            out.photos.push_back({rows.field(field::kMp2name), rows.field(field::kImageName)});
        }
    }
    (void)rows.close();
    return out;
}

}  // namespace strovia::catalogue
