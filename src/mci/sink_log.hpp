#pragma once
// Measurement log of what reaches the sinks, for the benchmarks: every
// command and every buffer a null sink renders is written to one file as a
// line with the monotonic time:
//
//   c <ns> <command>
//   v|a <ns> <pts ns> <duration ns> <file>
//
// Owned by the interpreter that was asked for it (and kept alive by the
// sinks it watches); without one nothing is logged.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "control/error.hpp"

typedef struct _GstElement GstElement;

namespace strovia::mci {

class SinkLog final : public std::enable_shared_from_this<SinkLog> {
public:
    // Creates or empties the file; fails with kCannotWriteLog.
    static Result<std::shared_ptr<SinkLog>> open(const std::string& path);
    ~SinkLog();
    SinkLog(const SinkLog&) = delete;
    SinkLog& operator=(const SinkLog&) = delete;

    void command(std::string_view text);
    // Logs the buffers rendered by the fakesink in `sink` (the sink itself
    // or a bin holding one); other sinks are left alone.
    void watch(GstElement* sink, bool video, const std::string& file);

private:
    explicit SinkLog(std::FILE* file) : file_(file) {}
    void buffer(char kind, long long pts, long long duration, const std::string& file);

    std::FILE* file_;
    std::mutex mutex_;
};

}  // namespace strovia::mci
