#include "playback/reply.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace strovia {
namespace {

// Trims blanks (spaces only) from both ends and drops the last character.
std::string_view trim_and_drop_last(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (!s.empty()) s.remove_suffix(1);
    return s;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::int32_t ReplyBuffer::query(MediaChannel& channel, std::string_view command) {
    std::array<char, kSize + 1> copy{};
    std::memcpy(copy.data(), chars_.data(), kSize);
    copy[kSize] = '\0';
    const std::int32_t rc = channel.send_string(command, copy.data(), kOffered, 0);
    std::memcpy(chars_.data(), copy.data(), kSize);
    return rc;
}

void ReplyBuffer::set(std::string_view raw) {
    chars_.fill(' ');
    std::memcpy(chars_.data(), raw.data(), std::min(raw.size(), kSize));
}

std::string clean_mode_reply(std::string_view buffer) {
    std::string_view s = trim_and_drop_last(buffer);
    if (const auto nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
    return std::string(s);
}

double read_position(std::string_view buffer) {
    const std::string_view s = trim_and_drop_last(buffer);
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) number += s[i++];
    bool digits = false;
    while (i < s.size() && is_digit(s[i])) {
        number += s[i++];
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && is_digit(s[i])) {
            number += s[i++];
            digits = true;
        }
    }
    if (!digits) return 0.0;
    return std::strtod(number.c_str(), nullptr);
}

bool reads_stopped(std::string_view cleaned) {
    std::string upper(cleaned);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper == "STOPPED";
}

}  // namespace strovia
