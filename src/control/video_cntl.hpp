#pragma once
// VideoCntl: the control object. Its members are the state that all
// routines share; the routines themselves are defined beside the subsystem
// they belong to (src/catalogue, src/playback).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "catalogue/engine.hpp"
#include "control/engine_holder.hpp"
#include "control/error.hpp"
#include "control/host.hpp"
#include "control/interface.hpp"
#include "control/property_store.hpp"
#include "control/variant.hpp"
#include "playback/media.hpp"

namespace strovia {

// Design intervals of the two timers, in milliseconds.
inline constexpr int kTimer1Interval = 1;
inline constexpr int kTimer2Interval = 10;
inline constexpr int kPhotoPreviewInterval = 200;

class VideoCntl {
public:
    // The host, channel and engine holder outlive the control. The design
    // settings of the child controls are applied here: both timers off,
    // Timer1 at 1 ms, Timer2 at 10 ms.
    VideoCntl(Host& host, MediaChannel& channel, EngineHolder& engines);
    VideoCntl(const VideoCntl&) = delete;
    VideoCntl& operator=(const VideoCntl&) = delete;
    // Both timers are switched off, so the host never ticks a control that
    // is gone; nothing else is stopped or closed.
    ~VideoCntl();

    // --- Member state, in the order of the interface's definition. ---
    std::shared_ptr<Database> Db;
    std::shared_ptr<Recordset> Rs;
    std::string CurMp2name;
    std::string CurImageName;
    std::int16_t CurStartPos = 0;
    std::int16_t CurEndPos = 0;
    double CurFilelen = 0.0;
    std::string CurVideoName;
    bool ListDone = false;
    std::string VideoState;
    std::string SoundState;
    bool PhotoPreview = false;
    bool VideoPreview = false;
    bool VideoMode = false;
    std::string StoredAsanaNaME;
    std::string StoredResourcedir;

    // --- Properties. ---
    std::string Resourcedir() const;
    void Resourcedir(std::string value);
    std::string AsanaNaME() const;
    void AsanaNaME(std::string value);

    // --- Persistence handlers. ---
    Status UserControl_InitProperties();
    Status UserControl_ReadProperties(PropertyStore& store);
    Status UserControl_WriteProperties(PropertyStore& store) const;

    // --- Methods of the interface. ---
    Status fileOpen();
    Status InitAudio();
    Status InitVideo();
    Result<Variant> StopPlay();
    Result<Variant> Preview();
    Result<Variant> Pause();
    Result<Variant> Start();
    Result<Variant> Ppreview();

    // --- Tick handlers, called by the host for enabled timers. ---
    void Timer1_Timer();
    void Timer2_Timer();

    // The single dispatch entry: calls a member by dispatch id. Methods take
    // no arguments; a property put takes one string. Fails for an unknown
    // id, a wrong kind or argument count, and with the error of the routine.
    Result<Variant> invoke(DispId id, InvokeKind kind, std::span<const Variant> args = {});

    // Which programme the tick handlers may act for. Ticks of a timer left
    // running by an earlier programme or preview, and ticks inside the
    // yields of a programme that is still starting, find another value
    // here and do nothing. Read by hosts that report what plays.
    enum class Run { None, StartingVideo, Video, VideoPreview, StartingPhoto, Photo };
    Run run() const { return run_; }

    // What the control is doing, for hosts that report it; kept beside the
    // members and timers the routines define, and read by none of them.
    // Starting lasts only inside a start's yields, unless the start stopped
    // at a failure (then nothing plays). Paused only when Pause held
    // something: a video preview whose video no programme left playing
    // plays on through Pause.
    enum class Phase { Idle, Starting, Playing, Held, Paused, Previewing, Ended };
    Phase phase() const;
    // The segment or picture now shown, counted from 1 for the programme or
    // preview last started; it stays at the last one after the end, and is
    // 0 before anything was shown.
    int part() const { return part_; }
    // Practice, beside the interface: fileOpen, with a video posture's
    // programme started at segment `part` (from 1, its video at that row's
    // StartPos) and that segment played `times` times, each held at its
    // boundary until its narration ends, before the programme goes on. A
    // photo posture plays as fileOpen plays it. Fails, starting nothing,
    // for a part below 1 or times below 1; a part beyond the rows ends the
    // start like a failing row (fileOpen passes over it).
    Status fileOpenAt(int part, int times = 1);
    // Plays of the current segment still to come after this one.
    int repeats_left() const { return repeat_left_; }
    // The last fileOpen, Preview or Ppreview found no posture of its name.
    bool posture_not_found() const { return posture_not_found_; }

private:
    // Failure regime of a row load: stop at the first failing field, or
    // skip failing fields and keep their members.
    enum class OnFailure { Stop, Continue };

    // Catalogue access through the references, failing like a call on an
    // unset reference when there is none.
    Status OpenCatalogue(bool reuse_held_on_conflict);
    Status OpenRecordset(const std::string& query);
    Status RsMoveFirst();
    Status RsMoveNext();
    bool RsAtEnd() const;
    Result<FieldValue> RsField(std::string_view name) const;
    Result<std::string> RsText(std::string_view name) const;
    void CloseRowsThenDatabase();

    // Video programme.
    Status LoadSegmentRow(OnFailure regime);
    // InitVideo's steps, from segment `part`, which plays `times` times.
    Status StartVideoProgramme(int part, int times);
    Status StartVideoAsAsked();
    void RepeatSegment();
    void AdvanceSegment();
    void SegmentRowsUsedUp();
    // A narration that cannot be opened counts as finished: the hold at its
    // boundary ends and the next picture comes, instead of waiting for a
    // stopped mode its device can never report. Nothing is sent to it.
    void NarrationOpen();
    void NarrationOpen(const std::string& mp2name);
    void NarrationPlay();
    bool NarrationFinished(const std::string& mode) const;
    void NarrationClose();
    void EndProgramme(Timer& timer);
    void RaiseEnd();

    // Photo programme.
    bool LoadPhotoRowForTick();
    void ShowCurrentImage();
    void PhotoRowsUsedUp();

    Host& host_;
    MediaChannel& channel_;
    EngineHolder& engines_;
    // Sets the run and counts the change, so that a routine coming back
    // from a yield can tell that the host ended or replaced its run.
    void BeginRun(Run run, bool ended = false);
    Status PostureLookup();
    bool RunChangedSince(unsigned epoch) const { return run_epoch_ != epoch; }

    Run run_ = Run::None;
    unsigned run_epoch_ = 0;
    bool narration_unopened_ = false;  // the last narration open failed
    int part_ = 0;
    struct StartAt {
        int part = 1;
        int times = 1;
    } start_at_;
    int repeat_left_ = 0;
    std::int16_t repeat_from_ = 0;
    std::string repeat_narration_;
    bool paused_ = false;  // Pause held the run; Start or a new run ends it
    bool ended_ = false;   // the last run raised VideoEnd
    bool posture_not_found_ = false;
    std::string db_path_;  // path of the catalogue held in Db
    bool db_open_ = false;
};

}  // namespace strovia
