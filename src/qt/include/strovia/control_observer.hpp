#pragma once
// Everything the control does, as it happens: for traces, progress lines
// and tests. Give one to VideoCntlWidget::setObserver(); override what you
// need, the rest does nothing.
//
// Calls come on the GUI thread, often from inside a running routine or
// tick: an observer only records, it never calls back into the control.

#include <QString>

#include "strovia/export.hpp"

namespace strovia {

class STROVIA_EXPORT ControlObserver {
public:
    virtual ~ControlObserver();

    // A host call of one of the control's methods, before it runs.
    virtual void methodCalled(const QString& method) { (void)method; }
    // A media command the control sent, and whether the device took it.
    virtual void commandSent(const QString& command, bool ok) {
        (void)command;
        (void)ok;
    }
    // A status query and the reply the device wrote (up to its first NUL).
    virtual void queryAnswered(const QString& command, const QString& reply) {
        (void)command;
        (void)reply;
    }
    // Timer1 or Timer2 (`timer` 1 or 2) was switched or given an interval.
    virtual void timerChanged(int timer, bool enabled, int interval) {
        (void)timer;
        (void)enabled;
        (void)interval;
    }
    // Picture1 shows the picture at `path` (as the control formed it), or
    // nothing when `path` is empty.
    virtual void pictureChanged(const QString& path) { (void)path; }
    // The control's one message ("Asana not found - ...").
    virtual void messageShown(const QString& text) { (void)text; }
    // An event of the control, when it reaches the host ("VideoEnd").
    virtual void eventRaised(const QString& name) { (void)name; }
};

}  // namespace strovia
