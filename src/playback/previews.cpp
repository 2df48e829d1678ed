// Preview and Ppreview: the posture's video once without narration, or its
// pictures alone, one per 200 ms tick.

#include "catalogue/rules.hpp"
#include "control/video_cntl.hpp"
#include "playback/commands.hpp"

namespace strovia {

Result<Variant> VideoCntl::Preview() {
    // 1. Devices closed; ticks of any earlier run stop acting.
    (void)channel_.execute(commands::kCloseAll);
    BeginRun(Run::None);
    // 2., 3.
    ListDone = false;
    if (auto s = OpenCatalogue(false); !s) return s.error();
    // 4. The posture row; its number is read but not needed here.
    if (auto s = PostureLookup(); !s) return s.error();
    if (auto id = RsField(catalogue::field::kAsanaID); !id) return id.error();
    // 5. A photo posture previews as pictures.
    auto type = RsText(catalogue::field::kDispType);
    if (!type) return type.error();
    if (catalogue::previews_as_photo(*type)) {
        if (auto r = Ppreview(); !r) return r.error();
        return Variant{Empty{}};
    }
    // 6.-9. Anything else previews as video.
    auto name = RsText(catalogue::field::kVideoName);
    if (!name) return name.error();
    CurVideoName = *name;
    if (!channel_.execute(commands::video_open(StoredResourcedir, CurVideoName,
                                               host_.picture1().window_handle()))) {
        host_.open_failed(Host::Medium::Video);
    }
    (void)channel_.execute(commands::kPlayVideo);
    VideoPreview = true;
    BeginRun(Run::VideoPreview);
    host_.timer1().set_enabled(true);
    return Variant{Empty{}};
}

Result<Variant> VideoCntl::Ppreview() {
    // 1.
    (void)channel_.execute(commands::kCloseAll);
    BeginRun(Run::None);
    // 2., 3.
    PhotoPreview = true;
    host_.timer2().set_interval(kPhotoPreviewInterval);
    ListDone = false;
    // 4. Coming from Preview the catalogue is still held; an engine that
    // refuses to open it twice leaves that one in use.
    if (auto s = OpenCatalogue(true); !s) return s.error();
    // 5., 6.
    if (auto s = PostureLookup(); !s) return s.error();
    auto id = RsField(catalogue::field::kAsanaID);
    if (!id) return id.error();
    if (auto s = OpenRecordset(catalogue::photo_rows(*id)); !s) return s.error();
    // 7., 8.
    if (auto s = InitAudio(); !s) return s.error();
    // Not when a StopPlay or another programme came in InitAudio's yield.
    if (run_ == Run::Photo) host_.timer2().set_enabled(true);
    return Variant{Empty{}};
}

}  // namespace strovia
