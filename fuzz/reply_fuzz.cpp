// Reply cleaning and position reading on whatever a device leaves in the
// 50-character buffer.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "playback/reply.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > strovia::ReplyBuffer::kSize) size = strovia::ReplyBuffer::kSize;
    strovia::ReplyBuffer buffer;
    buffer.set(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string_view raw = buffer.chars();
    if (raw.size() != strovia::ReplyBuffer::kSize) std::abort();
    const std::string mode = strovia::clean_mode_reply(raw);
    // Cleaning only ever removes characters and stops at the first NUL.
    if (mode.size() >= raw.size() || mode.find('\0') != std::string::npos) std::abort();
    (void)strovia::reads_stopped(mode);
    const double pos = strovia::read_position(raw);
    if (std::isnan(pos)) std::abort();
    return 0;
}
