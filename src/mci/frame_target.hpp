#pragma once
// Where a device's decoded pictures go when the host has a window for them.

#include <cstdint>
#include <memory>
#include <mutex>

namespace strovia::mci {

// One decoded picture: 4 bytes a pixel, R, G, B and an unused byte
// (RGBx), rows `stride` bytes apart. Valid only during present().
struct Frame {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// Implemented by the host for a window it paints. present() runs on a
// media streaming thread, never on the caller's UI thread: the host copies
// the pixels and hands them to its own thread. It must not call back into
// the interpreter.
class FrameTarget {
public:
    virtual ~FrameTarget() = default;
    virtual void present(const Frame& frame) = 0;
};

// A registered target as devices see it: unregistering clears it under
// the lock, so no present() starts once unregister has returned.
struct TargetSlot {
    std::mutex mutex;
    FrameTarget* target = nullptr;

    void deliver(const Frame& frame) {
        std::lock_guard lock(mutex);
        if (target != nullptr) target->present(frame);
    }
};

}  // namespace strovia::mci
