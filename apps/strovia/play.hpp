#pragma once
// Hosting the control on the command line until VideoEnd: shared by
// `strovia play` and `strovia demo`.

#include <optional>
#include <string>
#include <vector>

namespace strovia::cli {

struct PlayOptions {
    enum class Output {
        Quiet,     // the VideoEnd line and the user's messages only
        Trace,     // one JSON object a line for everything that happens
        Progress,  // one readable line per event, and a summary at the end
    };
    std::string content;
    std::string posture;
    bool headless = false;
    Output output = Output::Quiet;
    bool preview = false;
    bool photo_preview = false;
    double timeout = 0;
    std::vector<std::string> at;
    double rate = 1.0;
    std::optional<int> from_part;
    std::optional<int> repeat_part;
    std::optional<int> times;  // with repeat_part
};

// Exit codes of `strovia play` (and of `strovia demo` when it plays).
inline constexpr int kPlayEnded = 0;           // VideoEnd came
inline constexpr int kPlayCallFailed = 1;      // the first call returned an error
inline constexpr int kPlayBadOptions = 2;      // options that make no sense
inline constexpr int kPlayTimeout = 3;         // no VideoEnd within --timeout
inline constexpr int kPlayNotFound = 4;        // "Asana not found - ..." was said
inline constexpr int kPlayNothingStarted = 5;  // the first call started no programme

int run_play(const PlayOptions& opt);

}  // namespace strovia::cli
