// Opening a posture: look it up and start its programme.

#include "catalogue/rules.hpp"
#include "control/video_cntl.hpp"
#include "playback/commands.hpp"

namespace strovia {

Status VideoCntl::fileOpen() {
    // Whatever ran before stops acting on the members from here on.
    BeginRun(Run::None);

    // 1. Close every device.
    (void)channel_.execute(commands::kCloseAll);
    // 2., 3.
    ListDone = false;

    // 4. From here failures are suppressed; the most recent number is kept.
    // The host hears of each, under the routine that failed.
    std::int32_t last_error = 0;
    auto attempt = [&](const Status& s, std::string_view routine = "fileOpen") {
        if (!s) {
            last_error = s.error().number;
            host_.suppressed_failure(routine, s.error());
        }
        return s.ok();
    };

    // 5. Open the catalogue. When it cannot be opened, the catalogue still
    // held from an earlier call is let go rather than used: its rows are
    // another folder's or another posture's, and playing them under this
    // Resourcedir plays nothing while seeming to. Only an engine that
    // refuses to open the very file held a second time goes on with it.
    if (!attempt(OpenCatalogue(true))) {
        CloseRowsThenDatabase();
        Rs.reset();
        Db.reset();
        host_.picture1().clear();
        VideoPreview = false;
        return {};
    }
    // 6., 7.
    host_.picture1().clear();
    VideoPreview = false;
    // 8., 9. Look the posture up.
    attempt(OpenRecordset(catalogue::posture_lookup(StoredAsanaNaME)));
    {
        // Said before the host hears of the failure, so it can name it.
        auto first = RsMoveFirst();
        posture_not_found_ = !first && first.error().number == engine_error::kNoCurrentRecord;
        attempt(first);
    }

    // 10. The lookup found no row.
    if (last_error == engine_error::kNoCurrentRecord) {
        host_.message_box("Asana not found - " + StoredAsanaNaME);
        return {};
    }

    // 11. The posture's number and display type.
    FieldValue asana_id;  // null until read
    if (auto id = RsField(catalogue::field::kAsanaID); attempt(status_of(id))) asana_id = *id;
    bool is_video = false;
    if (auto type = RsField(catalogue::field::kDispType); attempt(status_of(type))) {
        is_video = catalogue::opens_as_video(*type);
    }

    if (is_video) {
        // 12. Video posture.
        if (auto name = RsText(catalogue::field::kVideoName); attempt(status_of(name)))
            CurVideoName = *name;
        attempt(OpenRecordset(catalogue::segment_rows(asana_id)));
        attempt(StartVideoAsAsked(), "InitVideo");
    } else {
        // 13. Photo posture.
        PhotoPreview = false;
        attempt(OpenRecordset(catalogue::photo_rows(asana_id)));
        attempt(InitAudio(), "InitAudio");
    }
    // 14.
    return {};
}

}  // namespace strovia
