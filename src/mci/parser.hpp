#pragma once
// Reading one command of the media command language: blank-separated
// tokens, a double-quoted token may hold blanks. Keywords and aliases are
// compared without regard to case; tokens themselves (file paths above all)
// are kept exactly as written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/error.hpp"

namespace strovia::mci {

// Numbers of the errors the interpreter reports; the texts are built where
// the error arises.
namespace err {
inline constexpr std::int32_t kEmptyCommand = 101;
inline constexpr std::int32_t kUnclosedQuote = 102;
inline constexpr std::int32_t kGluedQuote = 103;
inline constexpr std::int32_t kUnknownCommand = 104;
inline constexpr std::int32_t kMissingParameter = 105;
inline constexpr std::int32_t kBadParameter = 106;
inline constexpr std::int32_t kUnknownDeviceType = 107;
inline constexpr std::int32_t kBadHandle = 108;
inline constexpr std::int32_t kUnknownAlias = 201;
inline constexpr std::int32_t kAliasInUse = 202;
inline constexpr std::int32_t kFileNotFound = 301;
inline constexpr std::int32_t kUnsupportedFormat = 302;
inline constexpr std::int32_t kCannotDecode = 303;
inline constexpr std::int32_t kPrerollTimeout = 304;
inline constexpr std::int32_t kMissingElement = 305;
inline constexpr std::int32_t kStateChange = 306;
inline constexpr std::int32_t kNoFrameRate = 307;
inline constexpr std::int32_t kReplyTooLong = 308;
inline constexpr std::int32_t kNoMediaFramework = 309;
inline constexpr std::int32_t kCannotWriteLog = 310;
// The path names a FIFO, a device or a socket: never opened.
inline constexpr std::int32_t kNotAFile = 311;
// The stream has ended or failed: it has no position to go on from.
inline constexpr std::int32_t kMediaStopped = 312;
// A stream failed while it played (a decoding error, damaged data).
inline constexpr std::int32_t kPlaybackFailed = 313;
}  // namespace err

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a command into tokens. Fails on an unclosed quote, on text glued
// to a closing quote and on a quote opening inside a token.
Result<std::vector<Token>> tokenize(std::string_view command);

// ASCII case-insensitive comparison, for keywords and aliases.
bool keyword_is(std::string_view token, std::string_view keyword);
std::string fold(std::string_view text);

enum class Verb { kOpen, kClose, kPlay, kPause, kStop, kSet, kStatus, kSeek };
enum class StatusItem { kMode, kPosition, kLength, kTimeFormat, kReady };
enum class TimeFormat { kMilliseconds, kFrames };

struct OpenArgs {
    std::string path;                    // exactly as written
    std::string alias;                   // as written; the path when none is given
    std::optional<std::int64_t> parent;  // window handle after `parent`
};

struct Command {
    Verb verb = Verb::kStatus;
    std::string alias;  // every verb but open; "all" for close all
    OpenArgs open;
    StatusItem item = StatusItem::kMode;
    TimeFormat format = TimeFormat::kMilliseconds;
    std::int64_t seek_to = 0;  // seek: in the device's time format
};

// Parses one command of the language this interpreter understands.
Result<Command> parse(std::string_view command);

}  // namespace strovia::mci
