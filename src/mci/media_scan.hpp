#pragma once
// What a device learns from a file's bytes rather than from its decoders:
// which of the two kinds of file it is, and its exact length. GStreamer's
// duration of a program stream is an estimate from its clock references,
// one to three frames short, and that of an MPEG audio file is unknown
// until its parser has read on for a while; a count of the pictures or
// audio frames is exact and needs no pipeline.

#include <cstdint>
#include <optional>
#include <string>

namespace strovia::mci::scan {

// The rule for a narration: MPEG audio layer I, II or III (MPEG-1, 2 or
// 2.5), optionally behind ID3v2 tags. Returns the offset of the first
// audio frame, or nothing when the bytes there are no audio frame header.
std::optional<std::size_t> audio_start(const std::string& file);

// True when the file begins with an MPEG program stream pack header.
bool is_program_stream(const std::string& file);

// The number of pictures of the first video stream of a program stream;
// nothing when the file cannot be read or holds no picture.
std::optional<std::int64_t> video_pictures(const std::string& file);

struct AudioLength {
    std::int64_t samples = 0;
    int rate = 0;
};
// Samples of the audio frames that follow `start`, up to the first bytes
// that are no frame (an ID3v1 tag, damage); nothing for free-format files.
std::optional<AudioLength> audio_length(const std::string& file, std::size_t start);

}  // namespace strovia::mci::scan
