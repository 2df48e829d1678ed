#pragma once
// The host seam: what the control needs of the component host that holds
// it. A Qt widget provides it in the application; tests provide a scripted
// double whose timers fire only when the test says so.
//
// Contract for every implementation:
// - All calls come from the host's user-interface thread, one at a time.
// - The control never keeps references across hosts; one Host serves one
//   control for the control's whole life.
// - Nothing here throws.

#include <cstdint>
#include <string>
#include <string_view>

#include "control/error.hpp"

namespace strovia {

// A child timer of the control. The host delivers ticks by calling the
// control's tick handler (Timer1_Timer or Timer2_Timer) roughly every
// interval milliseconds while, and only while, the timer is enabled. A tick
// may be delivered inside Host::do_events().
class Timer {
public:
    virtual ~Timer() = default;
    virtual bool enabled() const = 0;
    virtual void set_enabled(bool on) = 0;
    virtual int interval() const = 0;
    virtual void set_interval(int milliseconds) = 0;
};

// A child picture box of the control.
class PictureBox {
public:
    virtual ~PictureBox() = default;
    // Shows the picture in the file at `path`, a path formed with
    // backslashes as the course content names it; the box maps it to the
    // file system. Fails with runtime_error::kFileNotFound when there is no
    // such file and runtime_error::kInvalidPicture when it is no picture;
    // on failure the box keeps what it showed.
    virtual Status load_picture(const std::string& path) = 0;
    // Shows the empty picture. Cannot fail.
    virtual void clear() = 0;
    // Optional. Shows, in place of the picture at `path` that could not be
    // loaded, something that names it and says why. Cannot fail. The
    // default shows the empty picture.
    virtual void show_unavailable(const std::string& path, const Error& why) {
        (void)path;
        (void)why;
        clear();
    }
    // The handle by which the media channel's video device finds this box
    // as its parent window. Stable for the box's life.
    virtual std::int64_t window_handle() const = 0;
};

class Host {
public:
    virtual ~Host() = default;

    virtual Timer& timer1() = 0;
    virtual Timer& timer2() = 0;
    virtual PictureBox& picture1() = 0;
    virtual PictureBox& picture2() = 0;

    // Modal message box with one OK button, no icon, titled with the
    // application's title; returns once the user has closed it. The host's
    // message loop runs meanwhile (ticks may arrive).
    virtual void message_box(const std::string& text) = 0;

    // Lets the host's message loop run once: pending ticks, paints and host
    // calls are served, then control returns.
    virtual void do_events() = 0;

    // Folder of the control library's own file, without a trailing
    // separator, in the form the media channel's paths use.
    virtual std::string library_folder() const = 0;

    // The property named `name` has been written (the host marks its saved
    // state out of date).
    virtual void property_changed(std::string_view name) = 0;

    // Raises the control's one event, VideoEnd, to the host's handlers.
    virtual void raise_video_end() = 0;

    // Optional. A failure that `routine` swallows by its definition (the
    // routine goes on, or the tick ends quietly): told to the host so that
    // it can say why nothing plays. Called on the user-interface thread
    // while the routine runs; the host must not call into the control from
    // here. The routine's own behaviour does not depend on it.
    virtual void suppressed_failure(std::string_view routine, const Error& error) {
        (void)routine;
        (void)error;
    }

    // Optional. The open command of the posture's video or of a narration
    // has just failed; the media channel has reported why. The routine goes
    // on as defined. Same calling rules as suppressed_failure.
    enum class Medium { Video, Narration };
    virtual void open_failed(Medium medium) { (void)medium; }
};

}  // namespace strovia
