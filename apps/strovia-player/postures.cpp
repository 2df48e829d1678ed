#include "postures.hpp"

#include "catalogue/rules.hpp"

namespace strovia::player {

Result<std::vector<Posture>> read_postures(CatalogueEngine& engine,
                                           const std::string& resourcedir) {
    auto db = engine.default_workspace().open_database(catalogue::catalogue_path(resourcedir),
                                                       false, true, catalogue::kConnect);
    if (!db) return db.error();
    auto rs = (*db)->open_recordset("select * from Asanas");
    if (!rs) {
        (void)(*db)->close();
        return rs.error();
    }
    std::vector<Posture> out;
    Status walked = (*rs)->move_first();
    if (!walked && walked.error().number == engine_error::kNoCurrentRecord) walked = {};
    while (walked && !(*rs)->eof()) {
        Posture p;
        auto name = (*rs)->field("name");
        if (!name) {
            walked = name.error();
            break;
        }
        if (auto text = field_as_text(*name)) p.name = *text;  // a null name lists as ""
        if (auto type = (*rs)->field("Disp_Type")) {
            const auto* text = std::get_if<std::string>(&*type);
            p.video = text && *text == "Video";
        }
        out.push_back(std::move(p));
        walked = (*rs)->move_next();
    }
    (void)(*rs)->close();
    (void)(*db)->close();
    if (!walked) return walked.error();
    return out;
}

}  // namespace strovia::player
