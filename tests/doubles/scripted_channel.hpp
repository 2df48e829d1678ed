#pragma once
// A media channel that records every command in the shared trace and
// answers status queries from a script.

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "doubles/trace.hpp"
#include "playback/media.hpp"

namespace strovia::test {

class ScriptedChannel : public MediaChannel {
public:
    explicit ScriptedChannel(Trace& trace) : trace_(trace) {}

    bool execute(std::string_view command) override {
        trace_.add("mci " + std::string(command));
        commands.emplace_back(command);
        return !failing.contains(std::string(command));
    }

    std::int32_t send_string(std::string_view command, char* reply, std::uint32_t reply_length,
                             std::int64_t) override {
        auto it = steady.find(std::string(command));
        if (it == steady.end()) return 263;  // device not open: nothing written
        const std::string& answer = it->second;
        // The raw bytes go in as given (a test may include NULs); a NUL ends them.
        const std::size_t n = std::min<std::size_t>(answer.size(), reply_length - 1);
        std::memcpy(reply, answer.data(), n);
        reply[n] = '\0';
        return 0;
    }

    // Answers `command` with `reply` from now on.
    void answer(const std::string& command, std::string reply) {
        steady[command] = std::move(reply);
    }
    // Fails `command` from now on, as a device that is gone.
    void forget(const std::string& command) { steady.erase(command); }

    std::vector<std::string> commands;
    std::set<std::string> failing;  // commands execute() refuses

private:
    Trace& trace_;
    std::map<std::string, std::string> steady;
};

}  // namespace strovia::test
