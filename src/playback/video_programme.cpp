// The video programme: one video cut into segments, held at each segment's
// end until that segment's narration has finished.

#include "catalogue/rules.hpp"
#include "control/video_cntl.hpp"
#include "playback/commands.hpp"
#include "playback/reply.hpp"

namespace strovia {

Status VideoCntl::LoadSegmentRow(OnFailure regime) {
    // The five fields, in order; each that reads and converts is stored.
    auto step = [&](const Status& s) {
        if (s.ok()) return true;
        if (regime == OnFailure::Continue) host_.suppressed_failure("Timer1_Timer", s.error());
        return regime == OnFailure::Continue;
    };

    auto filename = RsText(catalogue::field::kFilename);
    if (filename) CurMp2name = *filename;
    if (!step(status_of(filename))) return filename.error();

    auto action = RsText(catalogue::field::kAction);
    if (action) CurImageName = *action;
    if (!step(status_of(action))) return action.error();

    auto start = RsField(catalogue::field::kStartPos);
    auto start16 = start ? field_as_int16(*start) : Result<std::int16_t>(start.error());
    if (start16) CurStartPos = *start16;
    if (!step(status_of(start16))) return start16.error();

    auto end = RsField(catalogue::field::kEndPos);
    auto end16 = end ? field_as_int16(*end) : Result<std::int16_t>(end.error());
    if (end16) CurEndPos = *end16;
    if (!step(status_of(end16))) return end16.error();

    auto len = RsField(catalogue::field::kFilelen);
    auto len_d = len ? field_as_double(*len) : Result<double>(len.error());
    if (len_d) CurFilelen = *len_d;
    if (!step(status_of(len_d))) return len_d.error();
    return {};
}

void VideoCntl::NarrationOpen() { NarrationOpen(CurMp2name); }

void VideoCntl::NarrationOpen(const std::string& mp2name) {
    narration_unopened_ = !channel_.execute(
        commands::narration_open(StoredResourcedir, host_.library_folder(), mp2name));
    if (narration_unopened_) host_.open_failed(Host::Medium::Narration);
}

void VideoCntl::NarrationPlay() {
    if (!narration_unopened_) (void)channel_.execute(commands::kPlaySound);
}

bool VideoCntl::NarrationFinished(const std::string& mode) const {
    return narration_unopened_ || reads_stopped(mode);
}

void VideoCntl::NarrationClose() {
    if (!narration_unopened_) (void)channel_.execute(commands::kCloseSound);
    SoundState = "Stopped";
}

Status VideoCntl::InitVideo() { return StartVideoProgramme(1, 1); }

Status VideoCntl::StartVideoProgramme(int part, int times) {
    BeginRun(Run::StartingVideo);
    const unsigned epoch = run_epoch_;
    // 1., 2. The video, as a child of Picture1, counted in frames.
    if (!channel_.execute(commands::video_open(StoredResourcedir, CurVideoName,
                                               host_.picture1().window_handle()))) {
        host_.open_failed(Host::Medium::Video);
    }
    (void)channel_.execute(commands::kSetVideoFrames);
    // 3., 4. The first row.
    if (auto s = RsMoveFirst(); !s) return s;
    VideoPreview = false;
    if (auto s = LoadSegmentRow(OnFailure::Stop); !s) return s;
    // A later first segment: its row, and the video at its first frame.
    for (int row = 1; row < part; ++row) {
        if (auto s = RsMoveNext(); !s) return s;
        if (RsAtEnd()) {
            return Error{runtime_error::kInvalidArgument,
                         "the posture has no segment " + std::to_string(part)};
        }
        if (auto s = LoadSegmentRow(OnFailure::Stop); !s) return s;
    }
    const std::int16_t first_frame = part > 1 ? CurStartPos : std::int16_t{0};
    const std::string narration = CurMp2name;
    if (part > 1) (void)channel_.execute(commands::video_seek(first_frame));
    // 5., 6. Its narration.
    VideoMode = true;
    NarrationOpen();
    // 7. Start both; the yield lets the video window come up.
    (void)channel_.execute(commands::kPlayVideo);
    (void)channel_.execute(commands::kPauseVideo);
    host_.do_events();
    // A StopPlay or a new programme in the yield ends this start.
    if (RunChangedSince(epoch)) return {};
    NarrationPlay();
    (void)channel_.execute(commands::kPlayVideo);
    // 8.
    SoundState = "Playing";
    VideoState = "Playing";
    BeginRun(Run::Video);
    part_ = part;
    repeat_left_ = times - 1;
    repeat_from_ = first_frame;
    repeat_narration_ = narration;
    host_.timer1().set_enabled(true);
    // 9. The second row: where the first segment ends. A table of one row
    // is used up here and plays as a last segment.
    if (auto s = RsMoveNext(); !s) return s;
    if (RsAtEnd()) {
        SegmentRowsUsedUp();
        return {};
    }
    return LoadSegmentRow(OnFailure::Stop);
}

void VideoCntl::SegmentRowsUsedUp() {
    CloseRowsThenDatabase();
    CurStartPos = -10;
    VideoState = "Pause";
    ListDone = true;
}

void VideoCntl::RaiseEnd() {
    // The run is over before the host hears of the end, so a programme the
    // handler starts is its own.
    BeginRun(Run::None, true);
    host_.raise_video_end();
}

void VideoCntl::EndProgramme(Timer& timer) {
    timer.set_enabled(false);
    RaiseEnd();
}

void VideoCntl::Timer1_Timer() {
    ReplyBuffer reply;

    if (VideoPreview) {
        if (run_ != Run::VideoPreview) return;
        reply.query(channel_, commands::kStatusVideoMode);
        if (reads_stopped(clean_mode_reply(reply.chars()))) {
            // The handler may destroy the control: nothing of it is
            // touched after the event, only the host's timer.
            Timer& timer1 = host_.timer1();
            BeginRun(Run::None, true);
            host_.raise_video_end();
            timer1.set_enabled(false);
        }
        return;
    }

    if (run_ != Run::Video) return;
    // 1., 2. Both queries into the one buffer.
    reply.query(channel_, commands::kStatusSoundMode);
    const std::string narration_mode = clean_mode_reply(reply.chars());
    // A video that cannot go on (never opened, broken, or its file ends
    // short) has no position: every boundary left counts as reached, so the
    // narrations still play in order and the programme ends.
    const bool video_gone = reply.query(channel_, commands::kStatusVideoPosition) != 0;
    const double position = read_position(reply.chars());

    // 3. Hold the video at the boundary.
    if ((video_gone || position >= CurStartPos) && CurStartPos >= 0) {
        VideoState = "Pause";
        // A video that cannot go on has nothing to pause: asked on every
        // tick, a device that is not open would report a failure each time.
        if (!video_gone) (void)channel_.execute(commands::kPauseVideo);
    }
    // 4. The segment is over once its narration has stopped and the video
    // stands at the boundary (or runs its last segment).
    if (NarrationFinished(narration_mode) && VideoState == "Pause") {
        if (repeat_left_ > 0) {
            // The last segment's boundary is the end of the video.
            if (!ListDone || video_gone) RepeatSegment();
            return;
        }
        NarrationClose();
        if (ListDone) {
            EndProgramme(host_.timer1());
            return;
        }
        AdvanceSegment();
    }
}

void VideoCntl::AdvanceSegment() {
    // 1.
    host_.timer1().set_enabled(false);
    // 2. The loaded row is the next segment's. Rows that ran out without
    // being marked used up end the programme like a last segment.
    if (RsAtEnd()) {
        SegmentRowsUsedUp();
        RaiseEnd();  // Timer1 is already off
        return;
    }
    (void)LoadSegmentRow(OnFailure::Continue);
    // 3.-6.
    NarrationOpen();
    host_.timer1().set_enabled(true);
    NarrationPlay();
    (void)channel_.execute(commands::kPlayVideo);
    SoundState = "Playing";
    VideoState = "Playing";
    ++part_;
    // 7. Load the row after it, or mark the rows used up.
    if (!RsAtEnd()) {
        if (auto s = RsMoveNext(); !s) host_.suppressed_failure("Timer1_Timer", s.error());
        if (RsAtEnd()) {
            SegmentRowsUsedUp();
        } else {
            (void)LoadSegmentRow(OnFailure::Continue);
        }
    }
}

}  // namespace strovia

namespace strovia {

Status VideoCntl::fileOpenAt(int part, int times) {
    if (part < 1 || times < 1) {
        return Error{runtime_error::kInvalidArgument,
                     part < 1 ? "segments are counted from 1" : "a segment plays at least once"};
    }
    start_at_ = {part, times};
    auto s = fileOpen();
    start_at_ = {1, 1};
    return s;
}

Status VideoCntl::StartVideoAsAsked() {
    return StartVideoProgramme(start_at_.part, start_at_.times);
}

void VideoCntl::RepeatSegment() {
    host_.timer1().set_enabled(false);
    --repeat_left_;
    NarrationClose();
    (void)channel_.execute(commands::video_seek(repeat_from_));
    NarrationOpen(repeat_narration_);
    host_.timer1().set_enabled(true);
    NarrationPlay();
    (void)channel_.execute(commands::kPlayVideo);
    SoundState = "Playing";
    // The last segment runs on with no boundary, as it did the first time.
    VideoState = ListDone ? "Pause" : "Playing";
}

}  // namespace strovia
