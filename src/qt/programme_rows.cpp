#include "qt/programme_rows.hpp"

namespace strovia::qt {

catalogue::ProgrammeRows read_programme_rows(EngineHolder& engines,
                                             const std::shared_ptr<Database>& held,
                                             std::string_view resourcedir, std::string_view posture,
                                             bool video) {
    std::shared_ptr<Database> db = held;
    std::shared_ptr<Database> own;
    auto found =
        db ? catalogue::look_up_posture(*db, posture) : Result<catalogue::PostureRow>(Error{});
    if (!found) {
        auto opened = engines.get().default_workspace().open_database(
            catalogue::catalogue_path(resourcedir), true, true, catalogue::kConnect);
        if (!opened) return {};
        own = *opened;
        db = own;
        found = catalogue::look_up_posture(*db, posture);
    }
    catalogue::ProgrammeRows out;
    if (found && found->asana_id)
        out = catalogue::read_programme_rows(*db, *found->asana_id, video);
    if (own) (void)own->close();
    return out;
}

}  // namespace strovia::qt
