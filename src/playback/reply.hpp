#pragma once
// The reply buffer of the status queries and the reading of its replies.
// A tick makes one buffer and reuses it for all its queries, so a shorter
// reply can leave the tail of a longer earlier one behind it.

#include <array>
#include <string>
#include <string_view>

#include "playback/media.hpp"

namespace strovia {

class ReplyBuffer {
public:
    static constexpr std::size_t kSize = 50;
    static constexpr std::uint32_t kOffered = 49;

    ReplyBuffer() { chars_.fill(' '); }

    // Sends a status query; the device writes into a copy of the buffer and
    // all 50 characters are taken back, NULs included. A failed query
    // leaves what the device left. Returns the channel's code, 0 on success.
    std::int32_t query(MediaChannel& channel, std::string_view command);

    std::string_view chars() const { return {chars_.data(), chars_.size()}; }
    // For tests of the reading rules.
    void set(std::string_view raw);

private:
    std::array<char, kSize> chars_{};
};

// A mode reply: blanks trimmed at both ends, the last character dropped,
// then cut before the first NUL.
std::string clean_mode_reply(std::string_view buffer);

// A position reply: trimmed and the last character dropped like a mode, not
// cut at NUL; the leading decimal number as a double, 0 when there is none.
double read_position(std::string_view buffer);

// The upper-cased cleaned reply equals "STOPPED".
bool reads_stopped(std::string_view cleaned);

}  // namespace strovia
