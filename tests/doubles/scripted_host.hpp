#pragma once
// A host whose timers fire only when the test says so, and which records
// everything the control asks of it in one trace shared with the other
// doubles, so a test can assert the exact order of effects.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control/host.hpp"
#include "doubles/trace.hpp"

namespace strovia::test {

class ScriptedTimer : public Timer {
public:
    ScriptedTimer(Trace& trace, std::string name) : trace_(trace), name_(std::move(name)) {}
    bool enabled() const override { return enabled_; }
    void set_enabled(bool on) override {
        enabled_ = on;
        trace_.add(name_ + (on ? " on" : " off"));
    }
    int interval() const override { return interval_; }
    void set_interval(int ms) override {
        interval_ = ms;
        trace_.add(name_ + " interval " + std::to_string(ms));
    }

private:
    Trace& trace_;
    std::string name_;
    bool enabled_ = true;  // the control must switch it off itself
    int interval_ = 0;
};

class ScriptedPictureBox : public PictureBox {
public:
    ScriptedPictureBox(Trace& trace, std::string name, std::int64_t handle)
        : trace_(trace), name_(std::move(name)), handle_(handle) {}

    Status load_picture(const std::string& path) override {
        trace_.add(name_ + " picture " + path);
        if (auto it = failures.find(path); it != failures.end()) return it->second;
        shown = path;
        return {};
    }
    void clear() override {
        trace_.add(name_ + " clear");
        shown.clear();
    }
    std::int64_t window_handle() const override { return handle_; }

    std::string shown;                      // path of the picture shown, empty when cleared
    std::map<std::string, Error> failures;  // paths whose loading fails

private:
    Trace& trace_;
    std::string name_;
    std::int64_t handle_;
};

class ScriptedHost : public Host {
public:
    explicit ScriptedHost(Trace& trace) : trace_(trace) {}

    ScriptedTimer& timer1() override { return timer1_; }
    ScriptedTimer& timer2() override { return timer2_; }
    ScriptedPictureBox& picture1() override { return picture1_; }
    ScriptedPictureBox& picture2() override { return picture2_; }

    void message_box(const std::string& text) override {
        trace_.add("message " + text);
        messages.push_back(text);
    }
    void do_events() override {
        trace_.add("yield");
        if (on_yield) on_yield();
    }
    std::string library_folder() const override { return "C:\\lib"; }
    void property_changed(std::string_view name) override {
        trace_.add("changed " + std::string(name));
        changes.emplace_back(name);
    }
    void raise_video_end() override {
        trace_.add("VideoEnd");
        ++video_ends;
        if (on_video_end) on_video_end();
    }

    // Failures the routines swallowed, as "routine number", outside the
    // trace so that traces keep the control's own effects only.
    void suppressed_failure(std::string_view routine, const Error& error) override {
        suppressed.push_back(std::string(routine) + " " + std::to_string(error.number));
    }

    std::vector<std::string> suppressed;
    std::vector<std::string> messages;
    std::vector<std::string> changes;
    int video_ends = 0;
    std::function<void()> on_yield;      // runs inside do_events(), e.g. to deliver ticks
    std::function<void()> on_video_end;  // the host's VideoEnd handler

private:
    Trace& trace_;
    ScriptedTimer timer1_{trace_, "Timer1"};
    ScriptedTimer timer2_{trace_, "Timer2"};
    ScriptedPictureBox picture1_{trace_, "Picture1", 4242};
    ScriptedPictureBox picture2_{trace_, "Picture2", 4343};
};

}  // namespace strovia::test
