#pragma once
// The media-channel seam: the two operations of the command language the
// control plays through. The interpreter with real devices lives in
// src/mci; tests use a channel that records commands and answers queries
// from a script.
//
// Contract for every implementation:
// - Calls come from the host's user-interface thread and return as soon as
//   the device has taken or refused the command; nothing waits for media.
// - execute() reports a failing command to the user by its own means and
//   returns false; the control never looks at the result.
// - send_string() fails silently with a non-zero code.
// - Neither throws nor calls back into the control.

#include <cstdint>
#include <string_view>

namespace strovia {

class MediaChannel {
public:
    virtual ~MediaChannel() = default;

    // The command operation: opens, plays, pauses or closes a device.
    virtual bool execute(std::string_view command) = 0;

    // The query operation. `reply` points at a writable copy of the
    // caller's reply buffer: 50 characters and a terminating NUL. The
    // operation may write up to `reply_length` bytes (the control offers
    // 49), the reply ending with a NUL; what it leaves untouched stays as
    // it was. `notify_window` is 0: no notification is requested.
    // Returns 0 on success, an error code otherwise.
    virtual std::int32_t send_string(std::string_view command, char* reply,
                                     std::uint32_t reply_length, std::int64_t notify_window) = 0;
};

}  // namespace strovia
