#pragma once
// Ticks the control's fast timers when a tick can see something new.
//
// A tick only reads the media devices and the control's members, so its
// outcome can change only when a device draws a frame, ends, fails or
// changes state, or when the host calls a method (which enables a timer if
// it starts something). The pacer ticks an enabled fast timer (Timer1 at
// 1 ms, Timer2 at 10 ms) promptly after each such change, after each
// enabling, and at a slow safety interval; slower timers (the photo
// preview's 200 ms) stay plain clocks. The control's timers keep the
// intervals it set. Wiring, in the host:
//
//   qt::TickPacer pacer(host.timer1(), host.timer2());
//   interpreter.set_change_listener(pacer.change_listener());
//
// The pacer must outlive neither timer; the listener may outlive the pacer
// (it then does nothing).

#include <QObject>

#include <functional>
#include <memory>

namespace strovia::qt {

class QtTimer;

class TickPacer final : public QObject {
public:
    static constexpr int kSafetyMs = 100;
    TickPacer(QtTimer& timer1, QtTimer& timer2, int safety_ms = kSafetyMs);
    ~TickPacer() override;
    TickPacer(const TickPacer&) = delete;
    TickPacer& operator=(const TickPacer&) = delete;

    // Something a tick reads may have changed. Any thread; returns at once.
    // Changes that come before the ticks they caused have run are
    // delivered as one.
    void changed();
    // changed() as a function that stays safe to call after the pacer is
    // gone: for mci::Interpreter::set_change_listener.
    std::function<void()> change_listener();

    // Deliveries so far (ticks asked of the UI thread), for measurements.
    long deliveries() const { return deliveries_; }

private:
    struct Shared;
    void deliver();

    QtTimer& timer1_;
    QtTimer& timer2_;
    std::shared_ptr<Shared> shared_;
    long deliveries_ = 0;
};

}  // namespace strovia::qt
