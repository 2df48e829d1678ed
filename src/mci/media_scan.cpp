#include "mci/media_scan.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/regular_file.hpp"

namespace strovia::mci::scan {
namespace {

// A file mapped read-only for the length of one scan.
class Mapped {
public:
    explicit Mapped(const std::string& file) {
        const auto f = platform::RegularFile::open(file);
        if (!f.ok() || f.size() <= 0) return;
        void* p =
            ::mmap(nullptr, static_cast<std::size_t>(f.size()), PROT_READ, MAP_PRIVATE, f.fd(), 0);
        if (p != MAP_FAILED) {
            data_ = static_cast<const std::uint8_t*>(p);
            size_ = static_cast<std::size_t>(f.size());
        }
    }
    ~Mapped() {
        if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

struct AudioHeader {
    int version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = 0;    // 1, 2 or 3
    int rate = 0;
    int bitrate = 0;  // kbit/s; 0 for free format
    std::size_t bytes = 0;
    int samples = 0;
};

std::optional<AudioHeader> audio_header(const std::uint8_t* b, std::size_t left) {
    if (left < 4 || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;
    AudioHeader h;
    h.version = (b[1] >> 3) & 3;
    const int layer_bits = (b[1] >> 1) & 3;
    const int bitrate_index = b[2] >> 4;
    const int rate_index = (b[2] >> 2) & 3;
    if (h.version == 1 || layer_bits == 0 || bitrate_index == 15 || rate_index == 3) {
        return std::nullopt;
    }
    h.layer = 4 - layer_bits;
    static constexpr std::array<std::array<int, 15>, 5> kKbps{{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2 II, III
    }};
    const bool mpeg1 = h.version == 3;
    const std::size_t row = mpeg1 ? static_cast<std::size_t>(h.layer - 1) : (h.layer == 1 ? 3 : 4);
    h.bitrate = kKbps[row][static_cast<std::size_t>(bitrate_index)];
    static constexpr std::array<int, 3> kRates{44100, 48000, 32000};
    h.rate = kRates[static_cast<std::size_t>(rate_index)] >> (mpeg1 ? 0 : h.version == 2 ? 1 : 2);
    const int padding = (b[2] >> 1) & 1;
    if (h.layer == 1) {
        h.samples = 384;
        h.bytes = static_cast<std::size_t>((12 * h.bitrate * 1000 / h.rate + padding) * 4);
    } else {
        h.samples = h.layer == 3 && !mpeg1 ? 576 : 1152;
        h.bytes = static_cast<std::size_t>(h.samples / 8 * h.bitrate * 1000 / h.rate + padding);
    }
    return h;
}

// Offset past the ID3v2 tags at `at`.
std::size_t past_id3(const std::uint8_t* d, std::size_t n, std::size_t at) {
    while (at + 10 <= n && std::memcmp(d + at, "ID3", 3) == 0) {
        const std::size_t size = (std::size_t{d[at + 6]} & 0x7F) << 21 |
                                 (std::size_t{d[at + 7]} & 0x7F) << 14 |
                                 (std::size_t{d[at + 8]} & 0x7F) << 7 | (d[at + 9] & 0x7F);
        at += 10 + size + ((d[at + 5] & 0x10) != 0 ? 10 : 0);
    }
    return at;
}

bool same_stream(const AudioHeader& a, const AudioHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.rate == b.rate;
}

}  // namespace

std::optional<std::size_t> audio_start(const std::string& file) {
    Mapped m(file);
    if (m.data() == nullptr) return std::nullopt;
    const std::size_t at = past_id3(m.data(), m.size(), 0);
    if (at >= m.size() || !audio_header(m.data() + at, m.size() - at)) return std::nullopt;
    return at;
}

bool is_program_stream(const std::string& file) {
    Mapped m(file);
    static constexpr std::uint8_t kPack[4] = {0, 0, 1, 0xBA};
    return m.size() >= 4 && std::memcmp(m.data(), kPack, 4) == 0;
}

std::optional<std::int64_t> video_pictures(const std::string& file) {
    Mapped m(file);
    const std::uint8_t* d = m.data();
    const std::size_t n = m.size();
    if (d == nullptr) return std::nullopt;
    std::int64_t pictures = 0;
    int video_id = -1;
    int zeros = 0;  // of the video payload, carried across packets
    bool code_next = false;
    std::size_t pos = 0;
    while (pos + 4 <= n) {
        if (d[pos] != 0 || d[pos + 1] != 0 || d[pos + 2] != 1) {
            ++pos;  // not at a start code: find the next one
            continue;
        }
        const int code = d[pos + 3];
        if (code == 0xB9) break;  // end of the program stream
        if (code == 0xBA) {       // pack header, MPEG-2 or MPEG-1
            pos += pos + 13 < n && (d[pos + 4] & 0xC0) == 0x40 ? 14 + (d[pos + 13] & 7) : 12;
            continue;
        }
        if (code < 0xBB || pos + 6 > n) {
            ++pos;
            continue;
        }
        const std::size_t start = pos + 6;
        const std::size_t end = std::min(n, start + (std::size_t{d[pos + 4]} << 8 | d[pos + 5]));
        if (code >= 0xE0 && code <= 0xEF && (video_id < 0 || code == video_id)) {
            video_id = code;
            std::size_t p = start;
            if (p < end && (d[p] & 0xC0) == 0x80) {  // MPEG-2 packet header
                p = p + 3 <= end ? p + 3 + d[p + 2] : end;
            } else {  // MPEG-1: stuffing, buffer size, time stamps
                while (p < end && d[p] == 0xFF) ++p;
                if (p < end && (d[p] & 0xC0) == 0x40) p += 2;
                if (p < end) p += (d[p] & 0xF0) == 0x20 ? 5 : (d[p] & 0xF0) == 0x30 ? 10 : 1;
            }
            for (; p < end; ++p) {
                const std::uint8_t b = d[p];
                if (code_next && b == 0x00) ++pictures;  // picture start code
                code_next = zeros >= 2 && b == 1;
                zeros = b == 0 ? zeros + 1 : 0;
            }
        }
        pos = end;
    }
    if (pictures == 0) return std::nullopt;
    return pictures;
}

std::optional<AudioLength> audio_length(const std::string& file, std::size_t start) {
    Mapped m(file);
    const std::uint8_t* d = m.data();
    const std::size_t n = m.size();
    if (d == nullptr || start >= n) return std::nullopt;
    const auto first = audio_header(d + start, n - start);
    if (!first || first->bitrate == 0) return std::nullopt;
    AudioLength length{0, first->rate};
    std::size_t pos = start;
    // An information frame (Xing, Info) leads some layer III files; the
    // decoders skip it.
    const std::size_t look = std::min(n, pos + std::min<std::size_t>(first->bytes, 64));
    for (const char* tag : {"Xing", "Info"}) {
        if (std::search(d + pos, d + look, tag, tag + 4) != d + look) {
            pos += first->bytes;
            break;
        }
    }
    while (pos + 4 <= n) {
        const auto h = audio_header(d + pos, n - pos);
        // After damage, take up again at the next header of the same stream
        // that another header follows.
        const bool ok = h && h->bitrate != 0 && same_stream(*h, *first) &&
                        (pos + h->bytes + 4 > n || audio_header(d + pos + h->bytes, 4));
        if (!ok) {
            ++pos;
            continue;
        }
        if (pos + h->bytes > n) break;  // a frame cut short is not played
        length.samples += h->samples;
        pos += h->bytes;
    }
    if (length.samples == 0) return std::nullopt;
    return length;
}

}  // namespace strovia::mci::scan
