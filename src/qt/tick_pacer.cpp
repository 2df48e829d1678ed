#include "qt/tick_pacer.hpp"

#include <QPointer>

#include <atomic>
#include <mutex>

#include "qt/qt_host.hpp"

namespace strovia::qt {

// What the listener shares with the pacer. Posting happens under the lock,
// so it never targets a pacer that is being destroyed.
struct TickPacer::Shared {
    std::mutex mutex;
    TickPacer* owner = nullptr;
    std::atomic<bool> pending{false};
    // Whether a fast timer is enabled: without one, changes wake nobody.
    std::atomic<bool> listening{false};

    void post() {
        if (!listening.load(std::memory_order_relaxed)) return;
        if (pending.exchange(true)) return;
        std::lock_guard lock(mutex);
        if (owner == nullptr) return;
        QMetaObject::invokeMethod(
            owner, [o = owner] { o->deliver(); }, Qt::QueuedConnection);
    }
};

TickPacer::TickPacer(QtTimer& timer1, QtTimer& timer2, int safety_ms)
    : timer1_(timer1), timer2_(timer2), shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
    for (QtTimer* t : {&timer1_, &timer2_}) {
        t->pace(safety_ms, [this] {
            shared_->listening = true;
            changed();
        });
    }
}

TickPacer::~TickPacer() {
    for (QtTimer* t : {&timer1_, &timer2_}) t->pace(0, {});
    std::lock_guard lock(shared_->mutex);
    shared_->owner = nullptr;
}

void TickPacer::changed() { shared_->post(); }

std::function<void()> TickPacer::change_listener() {
    return [shared = shared_] { shared->post(); };
}

void TickPacer::deliver() {
    shared_->pending = false;
    ++deliveries_;
    // A tick may raise an event whose handler destroys the host, and with
    // it this pacer.
    QPointer<TickPacer> alive(this);
    timer1_.tick_now();
    if (alive == nullptr) return;
    timer2_.tick_now();
    if (alive == nullptr) return;
    shared_->listening =
        (timer1_.enabled() && timer1_.paced_fast()) || (timer2_.enabled() && timer2_.paced_fast());
}

}  // namespace strovia::qt
