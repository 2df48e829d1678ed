// The photo programme: one picture shown per narration, or, as a preview,
// one picture per tick.

#include "catalogue/rules.hpp"
#include "control/video_cntl.hpp"
#include "playback/commands.hpp"
#include "playback/reply.hpp"

namespace strovia {
namespace {

// A narration that cannot be opened counts as finished at once; its
// picture still stays this long, so that it is seen.
constexpr int kUnnarratedPictureMs = 3000;

// Timer2 waits the picture's time when its narration did not open, and
// polls again once one did. A run without failures never changes it here.
void pace_for_narration(Timer& timer2, bool unopened) {
    const int wanted = unopened ? kUnnarratedPictureMs : kTimer2Interval;
    if (timer2.interval() != wanted) timer2.set_interval(wanted);
}

}  // namespace

Status VideoCntl::InitAudio() {
    BeginRun(Run::StartingPhoto);
    const unsigned epoch = run_epoch_;
    // 1.-3. The first row.
    if (auto s = RsMoveFirst(); !s) return s;
    VideoMode = false;
    auto mp2 = RsText(catalogue::field::kMp2name);
    if (!mp2) return mp2.error();
    CurMp2name = *mp2;
    auto image = RsText(catalogue::field::kImageName);
    if (!image) return image.error();
    CurImageName = *image;
    // 4., 5. Its picture.
    if (auto s =
            host_.picture1().load_picture(commands::picture_path(StoredResourcedir, CurImageName));
        !s) {
        return s;
    }
    host_.do_events();
    // A StopPlay or a new programme in a yield ends this start.
    if (RunChangedSince(epoch)) return {};
    // 6. Its narration, unless this is a preview.
    if (!PhotoPreview) {
        host_.timer2().set_interval(kTimer2Interval);
        NarrationOpen();
        pace_for_narration(host_.timer2(), narration_unopened_);
        host_.do_events();
        if (RunChangedSince(epoch)) return {};
        NarrationPlay();
        SoundState = "Playing";
    }
    // 7., 8.
    VideoState = "";
    BeginRun(Run::Photo);
    host_.timer2().set_enabled(true);
    return {};
}

void VideoCntl::ShowCurrentImage() {
    // A row without a picture leaves the box empty, and one whose picture
    // cannot be shown names it there, rather than showing the previous
    // row's picture with this row's narration.
    if (CurImageName.empty()) {
        host_.picture1().clear();
        return;
    }
    const std::string path = commands::picture_path(StoredResourcedir, CurImageName);
    if (auto s = host_.picture1().load_picture(path); !s) {
        host_.suppressed_failure("Timer2_Timer", s.error());
        host_.picture1().show_unavailable(path, s.error());
    }
}

bool VideoCntl::LoadPhotoRowForTick() {
    // Rows without a narration name are skipped: there is nothing to wait
    // for on them. Returns false when the rows ran out while skipping.
    while (true) {
        auto mp2 = RsText(catalogue::field::kMp2name);
        if (!mp2) host_.suppressed_failure("Timer2_Timer", mp2.error());
        if (mp2 && !mp2->empty()) {
            CurMp2name = *mp2;
            auto image = RsText(catalogue::field::kImageName);
            if (!image) host_.suppressed_failure("Timer2_Timer", image.error());
            CurImageName = image ? *image : std::string();
            ShowCurrentImage();
            return true;
        }
        auto next = RsMoveNext();
        if (!next) host_.suppressed_failure("Timer2_Timer", next.error());
        if (!next || RsAtEnd()) return false;
    }
}

void VideoCntl::PhotoRowsUsedUp() {
    CurStartPos = -10;
    ListDone = true;
    CloseRowsThenDatabase();
}

void VideoCntl::Timer2_Timer() {
    if (run_ != Run::Photo) return;

    if (PhotoPreview) {
        // 1. Rows already used up.
        if (RsAtEnd()) {
            host_.picture1().clear();
            PhotoRowsUsedUp();
            host_.timer2().set_enabled(false);
            BeginRun(Run::None);
            return;
        }
        // 2. Past the last row: the end; the last picture stays shown.
        if (auto s = RsMoveNext(); !s) host_.suppressed_failure("Timer2_Timer", s.error());
        if (RsAtEnd()) {
            PhotoRowsUsedUp();
            EndProgramme(host_.timer2());
            return;
        }
        // 3. The next picture.
        if (auto mp2 = RsText(catalogue::field::kMp2name)) {
            CurMp2name = *mp2;
        } else {
            host_.suppressed_failure("Timer2_Timer", mp2.error());
        }
        auto image = RsText(catalogue::field::kImageName);
        if (!image) host_.suppressed_failure("Timer2_Timer", image.error());
        CurImageName = image ? *image : std::string();
        ShowCurrentImage();
        ++part_;
        return;
    }

    // 1. Wait for the narration to finish.
    ReplyBuffer reply;
    reply.query(channel_, commands::kStatusSoundMode);
    if (!NarrationFinished(clean_mode_reply(reply.chars()))) return;
    // 2.
    NarrationClose();
    // 3. The last narration has finished.
    if (ListDone) {
        EndProgramme(host_.timer2());
        return;
    }
    // 4.
    host_.timer2().set_enabled(false);
    if (RsAtEnd()) {
        // 5. Rows found used up: the finished narration plays once more.
        host_.picture1().clear();
        PhotoRowsUsedUp();
    } else {
        // 6. Past the last row: the end; the last picture stays shown.
        if (auto s = RsMoveNext(); !s) host_.suppressed_failure("Timer2_Timer", s.error());
        if (RsAtEnd() || !LoadPhotoRowForTick()) {
            PhotoRowsUsedUp();
            RaiseEnd();  // Timer2 is already off
            return;
        }
        // 7. done by LoadPhotoRowForTick.
        ++part_;
    }
    // 8.-11. The narration of the row now shown.
    NarrationOpen();
    pace_for_narration(host_.timer2(), narration_unopened_);
    host_.timer2().set_enabled(true);
    NarrationPlay();
    SoundState = "Playing";
}

}  // namespace strovia
