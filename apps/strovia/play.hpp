#pragma once
// Hosting the control on the command line until VideoEnd: shared by
// `strovia play` and `strovia demo`.

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
};

// 0 after VideoEnd, 1 when the first call failed, 2 for bad options, 3 on
// timeout.
int run_play(const PlayOptions& opt);

}  // namespace strovia::cli
