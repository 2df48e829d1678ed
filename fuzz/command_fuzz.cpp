// The command language, parser and interpreter, on arbitrary command lines.
// Devices are scripted: the first eight bytes of the input say how each
// call of a device answers, the rest is one command per line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mci/interpreter.hpp"

namespace {

using namespace strovia;

class Script {
public:
    explicit Script(std::string_view bits) : bits_(bits.empty() ? std::string(1, '\0') : bits) {}
    // The next few bits of the script, round and round.
    unsigned next(unsigned width) {
        unsigned v = 0;
        for (unsigned i = 0; i < width; ++i, ++at_) {
            auto byte = static_cast<unsigned char>(bits_[(at_ / 8) % bits_.size()]);
            v = (v << 1) | ((byte >> (at_ % 8)) & 1U);
        }
        return v;
    }

private:
    std::string bits_;
    std::size_t at_ = 0;
};

Error refused() { return Error{mci::err::kStateChange, "scripted refusal"}; }

class ScriptedDevice final : public mci::MediaDevice {
public:
    explicit ScriptedDevice(Script& s) : s_(s) {}
    Status play() override { return step("playing"); }
    Status pause() override { return step("paused"); }
    Status stop() override { return step("stopped"); }
    void set_time_format(mci::TimeFormat f) override { format_ = f; }
    std::string mode() override { return mode_; }
    Result<std::string> position() override { return number(); }
    Result<std::string> length() override { return number(); }
    mci::TimeFormat time_format() const override { return format_; }

private:
    Status step(const char* mode) {
        if (s_.next(2) == 0) return refused();
        mode_ = mode;
        return {};
    }
    // Numbers of every width, and now and then a reply too long for any buffer.
    Result<std::string> number() {
        switch (s_.next(2)) {
            case 0: return refused();
            case 1: return std::string(60 + s_.next(4), '9');
            default: return std::to_string(static_cast<std::uint64_t>(s_.next(16)) << s_.next(5));
        }
    }
    Script& s_;
    std::string mode_ = "stopped";
    mci::TimeFormat format_ = mci::TimeFormat::kMilliseconds;
};

class CountingReporter final : public mci::Reporter {
public:
    void report(std::string_view, const Error& e) override {
        if (e.number == 0 || e.text.empty()) std::abort();  // a failure must say what failed
        ++reports;
    }
    int reports = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t head = size < 8 ? size : 8;
    Script script(all.substr(0, head));
    auto mci = mci::Interpreter::with_devices(
        [&script](const std::string&,
                  std::shared_ptr<mci::TargetSlot>) -> Result<std::unique_ptr<mci::MediaDevice>> {
            if (script.next(3) == 0) return Error{mci::err::kFileNotFound, "scripted missing file"};
            return std::unique_ptr<mci::MediaDevice>(std::make_unique<ScriptedDevice>(script));
        });
    CountingReporter reporter;
    mci->set_reporter(&reporter);
    std::string_view rest = all.substr(head);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // An exact-size buffer on the heap, so any write past it is caught.
        const std::uint32_t length = 1 + script.next(6);
        std::vector<char> reply(length, '\x7f');
        const std::int32_t rc = mci->send_string(line, reply.data(), length, 0);
        if (rc == 0 && std::memchr(reply.data(), '\0', length) == nullptr) std::abort();
        const int before = reporter.reports;
        const bool ok = mci->execute(line);
        if (ok == (reporter.reports != before)) std::abort();
    }
    mci->set_reporter(nullptr);
    return 0;
}
