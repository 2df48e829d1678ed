#include "simulation/virtual_run.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "catalogue/rules.hpp"
#include "control/video_cntl.hpp"
#include "playback/commands.hpp"

namespace strovia::sim {
namespace {

constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
// The widget ticks its fast timers on every change a tick could see and at
// least this often; slower timers run as plain clocks.
constexpr int kFastestPlainClockMs = 10;
constexpr std::int64_t kSafetyNs = 100 * kMs;
// A narration that does not open holds its picture this long (the photo
// programme's own wait), which the ceiling allows for.
constexpr std::int64_t kUnopenedNs = 3000 * kMs;
// Ticks at one instant that still change something: more means a loop.
constexpr int kTicksPerInstant = 10000;

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// --- The catalogue, from the rows already read. ---

using Row = std::vector<std::pair<std::string_view, Result<FieldValue>>>;

class RowsRecordset : public Recordset {
public:
    explicit RowsRecordset(std::vector<Row> rows) : rows_(std::move(rows)) {}
    Status move_first() override {
        if (closed_) return closed();
        at_ = 0;
        if (rows_.empty()) return Error{engine_error::kNoCurrentRecord, "No current record."};
        return {};
    }
    Status move_next() override {
        if (closed_) return closed();
        if (eof()) return Error{engine_error::kNoCurrentRecord, "No current record."};
        ++at_;
        return {};
    }
    bool eof() const override { return closed_ || at_ >= rows_.size(); }
    Result<FieldValue> field(std::string_view name) const override {
        if (closed_) return closed();
        if (eof()) return Error{engine_error::kNoCurrentRecord, "No current record."};
        for (const auto& [field, value] : rows_[at_]) {
            if (same_word(field, name)) return value;
        }
        return Error{engine_error::kItemNotFound, "Item not found in this collection."};
    }
    Status close() override {
        if (closed_) return closed();
        closed_ = true;
        return {};
    }

private:
    static Error closed() {
        return {engine_error::kObjectClosed, "Object invalid or no longer set."};
    }
    std::vector<Row> rows_;
    std::size_t at_ = 0;
    bool closed_ = false;
};

class PostureDatabase : public Database {
public:
    explicit PostureDatabase(const Posture& p) : p_(p) {}
    Result<std::shared_ptr<Recordset>> open_recordset(std::string_view query) override {
        const auto& f = p_.found;
        if (query == catalogue::posture_lookup(p_.name)) {
            return std::shared_ptr<Recordset>(std::make_shared<RowsRecordset>(
                std::vector<Row>{{{catalogue::field::kAsanaID, f.asana_id},
                                  {catalogue::field::kDispType, f.disp_type},
                                  {catalogue::field::kVideoName, f.video_name}}}));
        }
        const FieldValue id = f.asana_id ? *f.asana_id : FieldValue{};
        const bool segments = query == catalogue::segment_rows(id);
        if (!segments && query != catalogue::photo_rows(id)) {
            return Error{engine_error::kTableNotFound, "cannot find the input table or query"};
        }
        if (p_.rows.unreadable) return *p_.rows.unreadable;
        if (segments != p_.rows.video) {
            return Error{engine_error::kTableNotFound, "cannot find the input table or query"};
        }
        std::vector<Row> rows;
        namespace fld = catalogue::field;
        for (const auto& r : p_.rows.segments) {
            rows.push_back({{fld::kFilename, r.filename},
                            {fld::kAction, r.action},
                            {fld::kStartPos, r.start_pos},
                            {fld::kEndPos, r.end_pos},
                            {fld::kFilelen, r.filelen}});
        }
        for (const auto& r : p_.rows.photos) {
            rows.push_back({{fld::kMp2name, r.mp2name}, {fld::kImageName, r.image_name}});
        }
        return std::shared_ptr<Recordset>(std::make_shared<RowsRecordset>(std::move(rows)));
    }
    Status close() override { return {}; }

private:
    const Posture& p_;
};

class PostureEngine : public CatalogueEngine, Workspace {
public:
    explicit PostureEngine(const Posture& p) : p_(p) {}
    Workspace& default_workspace() override { return *this; }
    Result<std::shared_ptr<Database>> open_database(const std::string&, bool, bool,
                                                    std::string_view) override {
        return std::shared_ptr<Database>(std::make_shared<PostureDatabase>(p_));
    }

private:
    const Posture& p_;
};

// --- The clock and what happens on it. ---

struct Clock {
    std::int64_t now = 0;
    bool wake = false;  // something a tick reads has changed
    Record record;
    void note(Happening::Kind kind, int value = 0, std::string path = {}, std::int64_t len = 0) {
        record.happenings.push_back({kind, now, value, std::move(path), len});
    }
};

// --- The media channel: one device per alias, answering from lengths. ---

class Device {
public:
    Device(std::string path, Medium m) : path_(std::move(path)), m_(m) {}

    bool video() const { return m_.frames > 0; }
    const std::string& path() const { return path_; }
    std::int64_t length_ns() const {
        return video() ? frame_time_ns(m_.frames, m_.fps_n, m_.fps_d) : m_.length_ns;
    }
    bool playing() const { return mode_ == Mode::Playing; }
    bool ended() const { return ended_; }
    bool started() const { return started_; }
    int frame() const {
        return std::min(frame_at_ns(pos_, m_.fps_n, m_.fps_d), std::max(m_.frames - 1, 0));
    }

    // Each returns whether the device's state changed.
    bool play() {
        if (ended_ || mode_ == Mode::Playing) return false;
        mode_ = Mode::Playing;
        started_ = true;
        return true;
    }
    bool pause() {
        if (ended_ || mode_ != Mode::Playing) return false;
        mode_ = Mode::Paused;
        return true;
    }
    bool stop() {
        if (ended_ || mode_ == Mode::Stopped) return false;
        mode_ = Mode::Stopped;
        return true;
    }
    void set_frames(bool frames) { frames_ = frames; }

    std::string mode() const {
        switch (mode_) {
            case Mode::Playing: return "playing";
            case Mode::Paused: return "paused";
            case Mode::Stopped: break;
        }
        return "stopped";
    }
    // Empty when the stream played out: it has no position to go on from.
    std::optional<std::string> position() const {
        if (ended_) return std::nullopt;
        return in_format(pos_);
    }
    std::string length() const { return in_format(length_ns()); }

    // The next moment a status reply changes while it plays.
    std::int64_t next_change(std::int64_t now) const {
        if (!playing()) return kNever;
        std::int64_t next = now + (length_ns() - pos_);
        if (video()) {
            const std::int64_t frame =
                frame_time_ns(frame_at_ns(pos_, m_.fps_n, m_.fps_d) + 1, m_.fps_n, m_.fps_d);
            next = std::min(next, now + (frame - pos_));
        }
        return next;
    }
    // Plays on by `ns`; true when a status reply changed.
    bool run(std::int64_t ns) {
        if (!playing() || ns <= 0) return false;
        const int before = frame();
        pos_ = std::min(pos_ + ns, length_ns());
        if (pos_ >= length_ns()) {
            ended_ = true;
            mode_ = Mode::Stopped;
            return true;
        }
        return video() && frame() != before;
    }

private:
    enum class Mode { Stopped, Playing, Paused };
    std::string in_format(std::int64_t ns) const {
        if (frames_ && video()) return std::to_string(frame_at_ns(ns, m_.fps_n, m_.fps_d));
        return std::to_string(ns / kMs);
    }

    std::string path_;
    Medium m_;
    Mode mode_ = Mode::Stopped;
    std::int64_t pos_ = 0;
    bool ended_ = false, started_ = false, frames_ = false;
};

class VirtualChannel : public MediaChannel {
public:
    VirtualChannel(Clock& clock, const Media& media) : clock_(clock), media_(media) {}

    bool execute(std::string_view command) override { return run(command).number == 0; }

    std::int32_t send_string(std::string_view command, char* reply, std::uint32_t reply_length,
                             std::int64_t) override {
        std::string answer;
        const Error e = run(command, &answer);
        if (e.number != 0) return e.number;
        if (answer.size() + 1 > reply_length) return 308;
        std::memcpy(reply, answer.data(), answer.size());
        reply[answer.size()] = '\0';
        return 0;
    }

    std::int64_t next_change(std::int64_t now) const {
        std::int64_t next = kNever;
        for (const auto& [alias, d] : devices_) next = std::min(next, d.next_change(now));
        return next;
    }
    bool run_for(std::int64_t ns) {
        bool changed = false;
        for (auto& [alias, d] : devices_) changed = d.run(ns) || changed;
        return changed;
    }

private:
    static std::vector<std::string> tokens(std::string_view s) {
        std::vector<std::string> out;
        std::size_t i = 0;
        while (i < s.size()) {
            if (s[i] == ' ') {
                ++i;
                continue;
            }
            if (s[i] == '"') {
                const std::size_t end = s.find('"', i + 1);
                if (end == std::string_view::npos) return {};
                out.emplace_back(s.substr(i + 1, end - i - 1));
                i = end + 1;
                continue;
            }
            const std::size_t end = std::min(s.find(' ', i), s.size());
            out.emplace_back(s.substr(i, end - i));
            i = end;
        }
        return out;
    }

    Error run(std::string_view command, std::string* answer = nullptr) {
        static const Error kBad{274, "the command is not understood"};
        const auto t = tokens(command);
        if (t.size() < 2) return kBad;
        const std::string verb = folded(t[0]);
        if (verb == "open") {
            std::string alias;
            for (std::size_t i = 2; i + 1 < t.size(); ++i) {
                if (same_word(t[i], "alias")) alias = folded(t[i + 1]);
            }
            if (alias.empty() || alias == "all") return kBad;
            if (devices_.contains(alias)) return {202, "the alias is already open"};
            auto m = media_.find(t[1]);
            if (m == media_.end()) return {301, "the file cannot be found"};
            devices_.emplace(alias, Device(t[1], m->second));
            return {};
        }
        if (verb == "close" && same_word(t[1], "all")) {
            devices_.clear();
            return {};
        }
        auto it = devices_.find(folded(t[1]));
        if (it == devices_.end()) return {201, "no device is open under that alias"};
        Device& d = it->second;
        const int frame = d.frame();
        if (verb == "close") {
            devices_.erase(it);
            clock_.wake = true;
        } else if (verb == "play") {
            const bool first = !d.started();
            if (d.play()) {
                clock_.wake = true;
                if (d.video()) {
                    clock_.note(Happening::Kind::VideoPlays, frame);
                } else if (first) {
                    clock_.note(Happening::Kind::NarrationStart, 0, d.path(), d.length_ns());
                }
            }
        } else if (verb == "pause") {
            if (d.pause()) {
                clock_.wake = true;
                if (d.video()) clock_.note(Happening::Kind::VideoHeld, frame);
            }
        } else if (verb == "stop") {
            if (d.stop()) clock_.wake = true;
        } else if (verb == "set") {
            if (t.size() < 5 || !same_word(t[2], "time") || !same_word(t[3], "format")) return kBad;
            d.set_frames(same_word(t[4], "frames"));
        } else if (verb == "status" && answer != nullptr && t.size() >= 3) {
            if (same_word(t[2], "mode")) {
                *answer = d.mode();
            } else if (same_word(t[2], "position")) {
                auto at = d.position();
                if (!at) return {312, "the media stopped and cannot go on"};
                *answer = *at;
            } else if (same_word(t[2], "length")) {
                *answer = d.length();
            } else {
                return kBad;
            }
        } else {
            return kBad;
        }
        return {};
    }

    Clock& clock_;
    const Media& media_;
    std::map<std::string, Device> devices_;
};

// --- The host: timers on the clock, pictures noted. ---

class VirtualTimer : public Timer {
public:
    explicit VirtualTimer(Clock& clock) : clock_(clock) {}
    bool enabled() const override { return on_; }
    void set_enabled(bool on) override {
        if (on && !on_) {
            due_ = clock_.now + interval_ * kMs;
            if (fast()) clock_.wake = true;
        }
        on_ = on;
    }
    int interval() const override { return interval_; }
    void set_interval(int ms) override {
        interval_ = ms;
        due_ = clock_.now + interval_ * kMs;
    }
    bool fast() const { return interval_ <= kFastestPlainClockMs; }
    // A plain clock's next tick.
    std::int64_t due() const { return on_ && !fast() ? due_ : kNever; }
    void ticked() { due_ = clock_.now + interval_ * kMs; }

private:
    Clock& clock_;
    bool on_ = false;
    int interval_ = 0;
    std::int64_t due_ = kNever;
};

class VirtualBox : public PictureBox {
public:
    VirtualBox(Clock& clock, bool noted, std::int64_t handle)
        : clock_(clock), noted_(noted), handle_(handle) {}
    Status load_picture(const std::string& path) override {
        if (noted_) clock_.note(Happening::Kind::Picture, 0, path);
        return {};
    }
    void clear() override {
        if (noted_) clock_.note(Happening::Kind::Picture);
    }
    std::int64_t window_handle() const override { return handle_; }

private:
    Clock& clock_;
    bool noted_;
    std::int64_t handle_;
};

class VirtualHost : public Host {
public:
    VirtualHost(Clock& clock, std::string library) : clock_(clock), library_(std::move(library)) {}
    VirtualTimer& timer1() override { return t1_; }
    VirtualTimer& timer2() override { return t2_; }
    PictureBox& picture1() override { return p1_; }
    PictureBox& picture2() override { return p2_; }
    void message_box(const std::string& text) override { said_ = text; }
    void do_events() override {}
    std::string library_folder() const override { return library_; }
    void property_changed(std::string_view) override {}
    void raise_video_end() override {
        ended = true;
        clock_.note(Happening::Kind::End);
        clock_.record.end_ns = clock_.now;
    }
    void suppressed_failure(std::string_view routine, const Error& e) override {
        if (!first_failure_)
            first_failure_ =
                std::string(routine) + ": error " + std::to_string(e.number) + ": " + e.text;
    }
    std::string why_nothing() const {
        if (!said_.empty()) return said_;
        return first_failure_.value_or("the programme starts no timer");
    }

    bool ended = false;

private:
    Clock& clock_;
    std::string library_;
    VirtualTimer t1_{clock_}, t2_{clock_};
    VirtualBox p1_{clock_, true, 1}, p2_{clock_, false, 2};
    std::string said_;
    std::optional<std::string> first_failure_;
};

// No run lasts longer than every part at its video stretch plus its
// narration, once more for a narration the photo programme replays.
std::int64_t ceiling_ns(const Posture& p, const Media& media) {
    auto length = [&](const std::string& path) {
        auto it = media.find(path);
        return it == media.end() ? kUnopenedNs : std::max(it->second.length_ns, kUnopenedNs);
    };
    std::int64_t sum = 0;
    if (p.rows.video && p.found.video_name) {
        if (auto name = field_as_text(*p.found.video_name)) {
            sum += length(commands::video_path(p.content, *name));
        }
    }
    auto narration = [&](const Result<std::string>& n) {
        sum += n ? length(commands::narration_path(p.content, p.library_folder, *n)) : kUnopenedNs;
    };
    for (const auto& r : p.rows.segments) narration(r.narration());
    for (const auto& r : p.rows.photos) narration(r.narration());
    return 2 * sum + 1000 * kMs;
}

}  // namespace

// In long double: a rate measured as frames per length can have a large
// denominator, and its products would overflow 64-bit integers.
std::int64_t frame_time_ns(std::int64_t frame, int fps_n, int fps_d) {
    if (fps_n <= 0 || fps_d <= 0) return 0;
    const long double ns = static_cast<long double>(frame) * 1e9L * fps_d / fps_n;
    return static_cast<std::int64_t>(ns);
}

int frame_at_ns(std::int64_t ns, int fps_n, int fps_d) {
    if (fps_n <= 0 || fps_d <= 0) return 0;
    auto k = static_cast<std::int64_t>(static_cast<long double>(ns) * fps_n / (1e9L * fps_d));
    while (frame_time_ns(k + 1, fps_n, fps_d) <= ns) ++k;
    while (k > 0 && frame_time_ns(k, fps_n, fps_d) > ns) --k;
    return static_cast<int>(k);
}

Result<Posture> read_posture(Database& db, const std::string& name, const std::string& content,
                             const std::string& library_folder) {
    auto found = catalogue::look_up_posture(db, name);
    if (!found) return found.error();
    Posture p{name, content, library_folder, *found, {}};
    const bool video = catalogue::file_open_shows(found->disp_type) == catalogue::Shows::Video;
    p.rows = catalogue::read_programme_rows(db, found->asana_id ? *found->asana_id : FieldValue{},
                                            video);
    return p;
}

std::vector<Named> media_named(const Posture& p) {
    std::vector<Named> out;
    auto add = [&](std::string path, bool video) {
        for (const auto& n : out) {
            if (n.path == path) return;
        }
        out.push_back({std::move(path), video});
    };
    if (p.rows.video && p.found.video_name) {
        if (auto name = field_as_text(*p.found.video_name)) {
            add(commands::video_path(p.content, *name), true);
        }
    }
    auto narration = [&](const Result<std::string>& n) {
        if (n && !n->empty()) add(commands::narration_path(p.content, p.library_folder, *n), false);
    };
    for (const auto& r : p.rows.segments) narration(r.narration());
    for (const auto& r : p.rows.photos) narration(r.narration());
    return out;
}

std::vector<Record::Span> Record::parts() const {
    std::vector<Span> out;
    for (const auto& h : happenings) {
        if (h.kind != Happening::Kind::Part) continue;
        if (!out.empty()) out.back().length_ns = h.at_ns - out.back().from_ns;
        out.push_back({h.at_ns, 0});
    }
    if (!out.empty()) out.back().length_ns = end_ns - out.back().from_ns;
    return out;
}

Result<Record> run_programme(const Posture& posture, const Media& media) {
    Clock clock;
    VirtualHost host(clock, posture.library_folder);
    VirtualChannel channel(clock, media);
    EngineHolder engines([&] { return std::make_unique<PostureEngine>(posture); });
    VideoCntl control(host, channel, engines);
    control.Resourcedir(posture.content);
    control.AsanaNaME(posture.name);

    int part = 0;
    auto after_call = [&] {
        if (control.part() != part && !host.ended) {
            part = control.part();
            clock.note(Happening::Kind::Part, part);
        }
    };
    if (auto s = control.fileOpen(); !s) {
        return Error{kNothingPlays, "nothing plays: error " + std::to_string(s.error().number) +
                                        ": " + s.error().text};
    }
    after_call();

    const std::int64_t ceiling = ceiling_ns(posture, media);
    std::int64_t last_delivery = 0;
    std::int64_t instant = -1;
    int ticks_at_instant = 0;
    auto fast_on = [&] {
        return (host.timer1().enabled() && host.timer1().fast()) ||
               (host.timer2().enabled() && host.timer2().fast());
    };
    auto never_ends = [&](const std::string& why) -> Error {
        return {kNeverEnds, "VideoEnd never comes: " + why + " (part " + std::to_string(part) +
                                ", after " + std::to_string(clock.now / kMs) + " ms)"};
    };

    while (!host.ended) {
        if (clock.wake) {
            clock.wake = false;
            if (clock.now != instant) {
                instant = clock.now;
                ticks_at_instant = 0;
            }
            if (++ticks_at_instant > kTicksPerInstant) {
                return never_ends("the programme keeps acting without time passing");
            }
            // As the widget delivers them: Timer1, then Timer2.
            if (host.timer1().enabled() && host.timer1().fast()) control.Timer1_Timer();
            after_call();
            if (host.ended) break;
            if (host.timer2().enabled() && host.timer2().fast()) control.Timer2_Timer();
            after_call();
            last_delivery = clock.now;
            continue;
        }
        const bool fast = fast_on();
        std::int64_t next = channel.next_change(clock.now);
        if (fast) next = std::min(next, last_delivery + kSafetyNs);
        next = std::min({next, host.timer1().due(), host.timer2().due()});
        if (next == kNever) {
            if (part == 0) return Error{kNothingPlays, "nothing plays: " + host.why_nothing()};
            return never_ends("the programme waits with no timer running");
        }
        if (next > ceiling) {
            return never_ends("the programme still waits " + std::to_string(ceiling / kMs) +
                              " ms after its start");
        }
        const std::int64_t step = next - clock.now;
        clock.now = next;
        if (channel.run_for(step) && fast) clock.wake = true;
        if (fast && clock.now >= last_delivery + kSafetyNs) clock.wake = true;
        for (Timer* t :
             {static_cast<Timer*>(&host.timer1()), static_cast<Timer*>(&host.timer2())}) {
            auto& vt = static_cast<VirtualTimer&>(*t);
            if (vt.due() > clock.now || host.ended) continue;
            vt.ticked();
            if (t == &host.timer1()) {
                control.Timer1_Timer();
            } else {
                control.Timer2_Timer();
            }
            after_call();
        }
    }
    return std::move(clock.record);
}

}  // namespace strovia::sim
