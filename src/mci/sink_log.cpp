#include "mci/sink_log.hpp"

#include <gst/gst.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace strovia::mci::sink_log {
namespace {

struct Log {
    std::FILE* file = nullptr;
    std::mutex mutex;
    Log() {
        const char* path = std::getenv("STROVIA_SINK_LOG");
        if (path != nullptr && *path != '\0') {
            file = std::fopen(path, "w");
            if (file == nullptr) std::fprintf(stderr, "strovia: cannot write %s\n", path);
        }
    }
    ~Log() {
        if (file != nullptr) std::fclose(file);
    }
};

Log& log() {
    static Log l;
    return l;
}

long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Watched {
    char kind;
    std::string file;
};

void on_handoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
    const auto* w = static_cast<const Watched*>(data);
    const long long t = now_ns();
    const auto pts = static_cast<long long>(GST_BUFFER_PTS(buffer));
    const auto dur = static_cast<long long>(GST_BUFFER_DURATION(buffer));
    Log& l = log();
    std::lock_guard lock(l.mutex);
    std::fprintf(l.file, "%c %lld %lld %lld %s\n", w->kind, t, pts, dur, w->file.c_str());
    std::fflush(l.file);
}

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

bool enabled() { return log().file != nullptr; }

void command(std::string_view text) {
    if (!enabled()) return;
    Log& l = log();
    std::lock_guard lock(l.mutex);
    std::fprintf(l.file, "c %lld %.*s\n", now_ns(), static_cast<int>(text.size()), text.data());
    std::fflush(l.file);
}

void watch(GstElement* sink, bool video, const std::string& file) {
    if (!enabled()) return;
    GstElement* fake = find_fakesink(sink);
    if (fake == nullptr) return;
    g_object_set(fake, "signal-handoffs", TRUE, nullptr);
    g_signal_connect_data(
        fake, "handoff", G_CALLBACK(on_handoff), new Watched{video ? 'v' : 'a', file},
        [](gpointer data, GClosure*) { delete static_cast<Watched*>(data); },
        static_cast<GConnectFlags>(0));
}

}  // namespace strovia::mci::sink_log
