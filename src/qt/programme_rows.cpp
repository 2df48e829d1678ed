#include "qt/programme_rows.hpp"

#include "catalogue/rules.hpp"

namespace strovia::qt {

ProgrammeRows read_programme_rows(EngineHolder& engines, const std::shared_ptr<Database>& held,
                                  std::string_view resourcedir, std::string_view posture,
                                  bool video) {
    ProgrammeRows out;
    const std::string lookup = catalogue::posture_lookup(posture);
    std::shared_ptr<Database> db = held;
    std::shared_ptr<Database> own;
    auto found = db ? db->open_recordset(lookup) : Result<std::shared_ptr<Recordset>>(Error{});
    if (!found) {
        auto opened = engines.get().default_workspace().open_database(
            catalogue::catalogue_path(resourcedir), true, true, catalogue::kConnect);
        if (!opened) return out;
        own = *opened;
        db = own;
        found = db->open_recordset(lookup);
    }
    auto id = found && (*found)->move_first() ? (*found)->field(catalogue::field::kAsanaID)
                                              : Result<FieldValue>(Error{});
    if (id) {
        auto rows =
            db->open_recordset(video ? catalogue::segment_rows(*id) : catalogue::photo_rows(*id));
        if (rows && (*rows)->move_first()) {
            while (!(*rows)->eof()) {
                ++out.count;
                if (video) {
                    auto start = (*rows)->field(catalogue::field::kStartPos);
                    auto value =
                        start ? field_as_int16(*start) : Result<std::int16_t>(start.error());
                    out.starts.push_back(value ? *value : ProgrammeRows::kUnreadable);
                }
                if (!(*rows)->move_next()) break;
            }
        }
        if (rows) (void)(*rows)->close();
    }
    if (found) (void)(*found)->close();
    if (own) (void)own->close();
    return out;
}

}  // namespace strovia::qt
