#pragma once
// The host seam over Qt 6: precise timers, picture boxes shown as labels,
// the modal message box, one processEvents() for a yield, and the folder of
// the library's own file. Used by `strovia play` and by the widget.

#include <QImage>
#include <QLabel>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "control/host.hpp"

namespace strovia::qt {

class QtTimer : public Timer {
public:
    // `tick` runs on each timeout while enabled.
    explicit QtTimer(std::function<void()> tick);
    bool enabled() const override { return enabled_; }
    void set_enabled(bool on) override;
    int interval() const override { return interval_; }
    void set_interval(int milliseconds) override;
    // Observers for traces: called after each change.
    std::function<void()> on_change;

    // Paced (see TickPacer): while the interval is fast (10 ms or less) the
    // clock ticks only every `safety_ms`, tick_now() ticks at once, and
    // each enabling calls `wake` so that a prompt tick follows. The
    // interval the control reads stays the one it set. `safety_ms` 0 ends
    // pacing.
    void pace(int safety_ms, std::function<void()> wake);
    bool paced_fast() const { return safety_ms_ > 0 && interval_ <= kFastest; }
    // Ticks now if enabled and paced fast; else does nothing.
    void tick_now();

    static constexpr int kFastest = 10;

private:
    void arm();

    QTimer timer_;
    std::function<void()> tick_;
    bool enabled_ = false;
    int interval_ = 0;
    int safety_ms_ = 0;
    std::function<void()> wake_;
};

// Decodes a picture as a picture box loads it: the formed path mapped,
// the format taken from the content. 53 when missing or not a regular
// file (never opened then), 481 when no picture; a picture too large for
// the reader's limit is decoded reduced where its format allows, else 481
// says its size and the limit.
Result<QImage> read_picture(const std::string& path);

// What a picture box shows for a picture that could not be loaded: its
// file name and why, on dark grey.
QImage unavailable_picture(const std::string& path, const Error& why);

class QtPictureBox : public PictureBox {
public:
    // `label` shows the picture: as a PictureView places it, or at its own
    // size, top left, in a plain label. `handle` is the number under which
    // the media channel finds this box's frame target.
    QtPictureBox(QLabel* label, std::int64_t handle);
    Status load_picture(const std::string& path) override;
    void clear() override;
    void show_unavailable(const std::string& path, const Error& why) override;
    std::int64_t window_handle() const override { return handle_; }
    QLabel* label() const { return label_; }
    std::function<void(const std::string& path)> on_picture;  // empty path: cleared

private:
    QLabel* label_;
    std::int64_t handle_;
};

// What the host application does with the control's requests that Qt does
// not decide by itself.
struct HostCallbacks {
    std::function<void(std::string_view name)> property_changed;
    std::function<void()> video_end;
    // Shows the modal message box; when unset, a QMessageBox with the
    // application's name as its title is shown.
    std::function<void(const std::string& text)> message_box;
};

class QtHost : public Host {
public:
    // The control's tick handlers are bound after the control exists.
    QtHost(QLabel* picture1, QLabel* picture2, std::int64_t picture1_handle,
           std::int64_t picture2_handle, HostCallbacks callbacks);
    void bind_ticks(std::function<void()> timer1_tick, std::function<void()> timer2_tick);

    QtTimer& timer1() override { return timer1_; }
    QtTimer& timer2() override { return timer2_; }
    QtPictureBox& picture1() override { return picture1_; }
    QtPictureBox& picture2() override { return picture2_; }
    void message_box(const std::string& text) override;
    void do_events() override;
    std::string library_folder() const override;
    void property_changed(std::string_view name) override;
    void raise_video_end() override;

private:
    HostCallbacks callbacks_;
    std::function<void()> tick1_;
    std::function<void()> tick2_;
    QtTimer timer1_;
    QtTimer timer2_;
    QtPictureBox picture1_;
    QtPictureBox picture2_;
};

// The control's modal message box: one OK button, no icon, the
// application's name as its title, modal over `over`'s window.
void show_message_box(QWidget* over, const std::string& text);

// Folder of the file that holds this library's code, without a trailing
// separator.
std::string library_folder_of_this_code();

}  // namespace strovia::qt
