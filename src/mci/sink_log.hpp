#pragma once
// Measurement log of what reaches the sinks, for the benchmarks: with
// STROVIA_SINK_LOG naming a file, every command and every buffer a null
// sink renders is written there as one line with the monotonic time:
//
//   c <ns> <command>
//   v|a <ns> <pts ns> <duration ns> <file>
//
// Off (and free) when the variable is unset.

#include <string>
#include <string_view>

typedef struct _GstElement GstElement;

namespace strovia::mci::sink_log {

bool enabled();
void command(std::string_view text);
// Logs the buffers rendered by the fakesink in `sink` (the sink itself or a
// bin holding one); other sinks are left alone.
void watch(GstElement* sink, bool video, const std::string& file);

}  // namespace strovia::mci::sink_log
