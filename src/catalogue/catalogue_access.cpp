// The control's catalogue references: opening, queries and row operations
// through Db and Rs.

#include "catalogue/rules.hpp"
#include "control/video_cntl.hpp"

namespace strovia {
namespace {

Error object_not_set() {
    return {runtime_error::kObjectNotSet, "Object variable or With block variable not set"};
}

}  // namespace

Status VideoCntl::OpenCatalogue(bool reuse_held_on_conflict) {
    const std::string path = catalogue::catalogue_path(StoredResourcedir);
    auto db =
        engines_.get().default_workspace().open_database(path, true, true, catalogue::kConnect);
    if (!db) {
        // An engine that refuses a second exclusive opening of the file this
        // control already holds open: go on with the one held.
        if (reuse_held_on_conflict && db.error().number == engine_error::kFileInUse && Db &&
            db_open_ && db_path_ == path) {
            return {};
        }
        return db.error();
    }
    Db = std::move(*db);
    db_path_ = path;
    db_open_ = true;
    return {};
}

Status VideoCntl::OpenRecordset(const std::string& query) {
    if (!Db) return object_not_set();
    auto rs = Db->open_recordset(query);
    if (!rs) return rs.error();
    Rs = std::move(*rs);
    return {};
}

Status VideoCntl::PostureLookup() {
    posture_not_found_ = false;
    if (auto s = OpenRecordset(catalogue::posture_lookup(StoredAsanaNaME)); !s) return s;
    auto first = RsMoveFirst();
    posture_not_found_ = !first && first.error().number == engine_error::kNoCurrentRecord;
    return first;
}

Status VideoCntl::RsMoveFirst() { return Rs ? Rs->move_first() : Status{object_not_set()}; }

Status VideoCntl::RsMoveNext() { return Rs ? Rs->move_next() : Status{object_not_set()}; }

bool VideoCntl::RsAtEnd() const { return !Rs || Rs->eof(); }

Result<FieldValue> VideoCntl::RsField(std::string_view name) const {
    if (!Rs) return object_not_set();
    return Rs->field(name);
}

Result<std::string> VideoCntl::RsText(std::string_view name) const {
    auto v = RsField(name);
    if (!v) return v.error();
    return field_as_text(*v);
}

void VideoCntl::CloseRowsThenDatabase() {
    // Failures ignored: either may already be closed.
    if (Rs) (void)Rs->close();
    if (Db) (void)Db->close();
    db_open_ = false;
}

}  // namespace strovia
