#include "mci/sink_log.hpp"

#include <gst/gst.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "mci/parser.hpp"

namespace strovia::mci {
namespace {

long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What one handoff handler needs; holds the log so that a sink outliving
// its interpreter still writes to an open file.
struct Watched {
    std::shared_ptr<SinkLog> log;
    char kind;
    std::string file;
};

GstElement* find_fakesink(GstElement* e) {
    auto is_fake = [](GstElement* x) {
        GstElementFactory* f = gst_element_get_factory(x);
        return f != nullptr && std::strcmp(GST_OBJECT_NAME(f), "fakesink") == 0;
    };
    if (is_fake(e)) return e;
    if (!GST_IS_BIN(e)) return nullptr;
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(e));
    GValue item = G_VALUE_INIT;
    while (found == nullptr && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* child = GST_ELEMENT(g_value_get_object(&item));
        if (is_fake(child)) found = child;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

}  // namespace

Result<std::shared_ptr<SinkLog>> SinkLog::open(const std::string& path) {
    std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        const std::string why = path.empty() ? "no file named" : std::strerror(errno);
        return Error{err::kCannotWriteLog, "cannot write the sink log \"" + path + "\": " + why};
    }
    return std::shared_ptr<SinkLog>(new SinkLog(file));
}

SinkLog::~SinkLog() { std::fclose(file_); }

void SinkLog::command(std::string_view text) {
    const long long t = now_ns();
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "c %lld %.*s\n", t, static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

void SinkLog::buffer(char kind, long long pts, long long duration, const std::string& file) {
    const long long t = now_ns();
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "%c %lld %lld %lld %s\n", kind, t, pts, duration, file.c_str());
    std::fflush(file_);
}

void SinkLog::watch(GstElement* sink, bool video, const std::string& file) {
    GstElement* fake = find_fakesink(sink);
    if (fake == nullptr) return;
    g_object_set(fake, "signal-handoffs", TRUE, nullptr);
    auto on_handoff = +[](GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
        const auto* w = static_cast<const Watched*>(data);
        w->log->buffer(w->kind, static_cast<long long>(GST_BUFFER_PTS(buffer)),
                       static_cast<long long>(GST_BUFFER_DURATION(buffer)), w->file);
    };
    g_signal_connect_data(
        fake, "handoff", G_CALLBACK(on_handoff),
        new Watched{shared_from_this(), video ? 'v' : 'a', file},
        [](gpointer data, GClosure*) { delete static_cast<Watched*>(data); },
        static_cast<GConnectFlags>(0));
}

}  // namespace strovia::mci
