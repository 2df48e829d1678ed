#include "strovia/exporter.hpp"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "export/page.hpp"
#include "export/programme.hpp"
#include "export/render.hpp"
#include "export/scorm.hpp"
#include "jet/engine.hpp"
#include "platform/paths.hpp"
#include "strovia/course.hpp"

namespace strovia {
namespace {

namespace fs = std::filesystem;
using exporting::ExportPosture;
using exporting::MediaLengths;
using exporting::PageEntry;
using exporting::RenderOptions;
using exporting::Schedule;

constexpr int kCannotWrite = 9204;
constexpr int kSkipped = Exporter::SomePosturesSkipped;
constexpr int kInterrupted = 9206;
constexpr int kBadSetting = 9207;
constexpr int kOutside = 9208;
constexpr int kDuplicate = 9209;
// A cancelled job whose worker is stuck in a call that does not return
// still ends this long after the cancel.
constexpr auto kCancelBackstop = std::chrono::milliseconds(800);

std::string lower_ascii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// A file name from a posture name: letters beyond ASCII kept, anything a
// file system or a URL could trip on replaced.
std::string file_stem(int number, const std::string& name) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d-", number);
    std::string stem = prefix;
    for (unsigned char c : name) {
        const bool keep = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                          (c >= 'A' && c <= 'Z') || c == '_' || c == '-' || c >= 0x80;
        if (keep) {
            stem += static_cast<char>(c);
        } else if (stem.back() != '-') {
            stem += '-';
        }
    }
    while (stem.size() > 3 && stem.back() == '-') stem.pop_back();
    return stem;
}

// Written whole or not at all.
Status write_file(const fs::path& path, const std::string& text) {
    const fs::path temp = exporting::temp_beside(path.string(), "part");
    std::ofstream out(temp, std::ios::binary);
    out << text;
    out.close();
    std::error_code ec;
    if (out) fs::rename(temp, path, ec);
    if (!out || ec) {
        fs::remove(temp, ec);
        return Error{kCannotWrite, "cannot write " + path.string()};
    }
    return {};
}

bool inside(const fs::path& file, const fs::path& folder) {
    auto f = file.begin();
    for (auto d = folder.begin(); d != folder.end(); ++d, ++f) {
        if (d->empty()) continue;  // a trailing separator
        if (f == file.end() || *f != *d) return false;
    }
    return true;
}

// The files of a posture that lie outside the course folder once links are
// followed (the narration library beside the program counts as inside).
std::vector<std::string> outside_files(const ExportPosture& posture, const std::string& content,
                                       const std::string& library) {
    std::error_code ec;
    std::vector<fs::path> roots{fs::weakly_canonical(fs::absolute(content, ec), ec)};
    if (!library.empty()) roots.push_back(fs::weakly_canonical(fs::absolute(library, ec), ec));
    std::vector<std::string> formed;
    if (posture.video) formed.push_back(posture.video_path);
    for (const auto& row : posture.rows) {
        formed.push_back(row.narration);
        if (!row.picture.empty()) formed.push_back(row.picture);
    }
    std::vector<std::string> outside;
    for (const auto& f : formed) {
        const fs::path real = fs::weakly_canonical(fs::absolute(platform::map_path(f), ec), ec);
        const bool ok = std::any_of(roots.begin(), roots.end(),
                                    [&](const fs::path& r) { return inside(real, r); });
        const std::string said = f + " (" + real.string() + ")";
        if (!ok && std::find(outside.begin(), outside.end(), said) == outside.end()) {
            outside.push_back(said);
        }
    }
    return outside;
}

std::string schedule_json(const ExportPosture& p, const Schedule& s) {
    auto sec = [](std::int64_t ns) { return static_cast<double>(ns) / 1e9; };
    nlohmann::ordered_json j;
    j["posture"] = p.name;
    if (p.video) j["video"] = p.video_path;  // the file the shots' frames count in
    j["end"] = sec(s.end_ns);
    j["narrations"] = nlohmann::json::array();
    for (const auto& n : s.narrations) {
        j["narrations"].push_back(
            {{"at", sec(n.at_ns)}, {"length", sec(n.length_ns)}, {"path", n.path}});
    }
    j["shots"] = nlohmann::json::array();
    for (const auto& shot : s.shots) {
        nlohmann::ordered_json o;
        o["from"] = sec(shot.from_ns);
        switch (shot.kind) {
            case Schedule::Shot::Kind::Play: o["play"] = shot.frame; break;
            case Schedule::Shot::Kind::Hold: o["hold"] = shot.frame; break;
            case Schedule::Shot::Kind::Picture: o["picture"] = shot.picture; break;
        }
        j["shots"].push_back(o);
    }
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

QString q(const std::string& s) { return QString::fromStdString(s); }

// What the worker needs, copied when the job starts.
struct Settings {
    std::string content, out, library;
    std::vector<std::string> postures;  // empty: all
    RenderOptions render;
    bool allow_outside = false;
    bool schedule_only = false;
    bool scorm = false;
};

}  // namespace

// Shared by the job and its worker, so that a worker left behind by a
// cancel that did not return in time never reaches a job that is gone.
struct __attribute__((visibility("hidden"))) Exporter::Impl
    : std::enable_shared_from_this<Exporter::Impl> {
    Exporter* owner = nullptr;  // cleared under `mutex` when the job goes

    // Settings, touched only on the job's thread.
    QString content, out, library;
    QStringList postures;
    Format format = Format::Mp4;
    QSize size{640, 480};
    bool allow_outside = false, schedule_only = false, scorm = false;

    // The job's state as its receivers see it (the job's thread only).
    State state = State::Idle;
    int current = 0, count = 0;
    double fraction = 0;
    int error_number = 0;
    QString error_string;
    bool cancelled = false;
    QList<PostureResult> results;

    std::mutex mutex;
    std::condition_variable ended;
    int worker_done = 0;  // the last run whose worker came back
    std::atomic<bool> cancel{false};
    std::thread worker;
    int run = 0;  // counts starts, so a late worker of an earlier run is ignored

    // Runs `f` on the job's thread with the job, unless the job is gone or
    // the run is over.
    void post(int of_run, std::function<void(Exporter&)> f) {
        std::lock_guard lock(mutex);
        if (!owner) return;
        QMetaObject::invokeMethod(
            owner,
            [self = shared_from_this(), of_run, f = std::move(f)] {
                if (self->owner && self->run == of_run && self->state == State::Running)
                    f(*self->owner);
            },
            Qt::QueuedConnection);
    }

    class Run;
    void work(const Settings& s, int of_run);
    // `wait` is how long the worker may still take to come back.
    void finish(Exporter& job, int number, const QString& text,
                std::chrono::milliseconds wait = kCancelBackstop);
};

// One run of the job on the worker thread: the postures in catalogue order,
// each measured, scheduled and rendered, then the page.
class Exporter::Impl::Run {
public:
    Run(Exporter::Impl& impl, const Settings& s, int of_run)
        : impl_(impl), s_(s), run_(of_run), engine_(jet::make_engine()) {}

    void go() {
        auto catalogue = exporting::posture_names(*engine_, s_.content);
        if (!catalogue) return end(catalogue.error().number, catalogue.error().text);
        plan(*catalogue);
        if (!s_.schedule_only) {
            std::error_code ec;
            fs::create_directories(s_.out, ec);
            if (ec || !fs::is_directory(s_.out, ec))
                return end(kCannotWrite, "cannot make the folder " + s_.out);
            for (const auto& gone : exporting::remove_leftovers(s_.out))
                post([f = q(gone)](Exporter& j) { Q_EMIT j.leftoverRemoved(f); });
        }
        for (std::size_t i = 0; i < jobs_.size() && !impl_.cancel; ++i) one(i);
        if (impl_.cancel) return end(kInterrupted, "interrupted");
        if (!s_.schedule_only) {
            // The course folder's own name, also for "." and "course/".
            std::error_code ec;
            fs::path folder = fs::absolute(s_.content, ec).lexically_normal();
            if (folder.filename().empty()) folder = folder.parent_path();
            std::string title = folder.filename().string();
            if (title.empty()) title = "Course";
            std::vector<std::string> scripts;
            if (s_.scorm) scripts.push_back(exporting::kScormScript);
            auto page = exporting::course_page(title, page_, scripts);
            Status w = write_file(fs::path(s_.out) / "index.html", page);
            if (w && s_.scorm) w = exporting::write_scorm_package(s_.out, title, page_, impl_.cancel);
            if (impl_.cancel) return end(kInterrupted, "interrupted");
            if (!w) return end(w.error().number, w.error().text);
        }
        if (skipped_ > 0) {
            return end(kSkipped, std::to_string(skipped_) + " of " + std::to_string(jobs_.size()) +
                                     " posture" + (jobs_.size() == 1 ? "" : "s") + " skipped");
        }
        end(0, "");
    }

private:
    struct Job {
        std::string name;
        int number = 0;  // place in the catalogue, 1 up
        std::string duplicate;
    };

    template <class F>
    void post(F f) {
        impl_.post(run_, std::move(f));
    }
    void end(int number, const std::string& text) {
        post([number, t = q(text)](Exporter& j) { j.d_->finish(j, number, t); });
    }

    // In catalogue order. A name asked for that matches no entry letter for
    // letter (the lookup itself may still find it, ignoring case beyond
    // ASCII) comes after them, numbered on.
    void plan(const std::vector<std::string>& catalogue) {
        auto place = [&](const std::string& n) {
            for (std::size_t i = 0; i < catalogue.size(); ++i) {
                if (lower_ascii(catalogue[i]) == lower_ascii(n)) return static_cast<int>(i) + 1;
            }
            return 0;
        };
        const bool all = s_.postures.empty();
        int unplaced = static_cast<int>(catalogue.size());
        for (const auto& n : all ? catalogue : s_.postures) {
            int number = place(n);
            if (number == 0) number = ++unplaced;
            if (std::any_of(jobs_.begin(), jobs_.end(),
                            [&](const Job& j) { return lower_ascii(j.name) == lower_ascii(n); })) {
                if (all) {
                    jobs_.push_back(
                        {n, number, "its name finds an earlier posture of the same name"});
                }
                continue;
            }
            jobs_.push_back({n, number, ""});
        }
        std::stable_sort(jobs_.begin(), jobs_.end(),
                         [](const Job& a, const Job& b) { return a.number < b.number; });
    }

    void one(std::size_t i) {
        const Job& job = jobs_[i];
        const int n = static_cast<int>(i) + 1, m = static_cast<int>(jobs_.size());
        post([n, m, name = q(job.name)](Exporter& j) {
            j.d_->current = n;
            j.d_->count = m;
            j.d_->fraction = 0;
            Q_EMIT j.postureStarted(n, m, name);
        });
        Exporter::PostureResult result;
        result.name = q(job.name);
        result.number = job.number;
        auto done = [&](const Error* why) {
            if (why) {
                result.skipped = true;
                result.errorNumber = why->number;
                result.errorString = q(why->text);
                ++skipped_;
            }
            post([result](Exporter& j) {
                j.d_->results.push_back(result);
                Q_EMIT j.postureFinished(result);
            });
        };
        if (!job.duplicate.empty()) {
            const Error e{kDuplicate, job.duplicate};
            return done(&e);
        }
        auto posture = exporting::read_posture(*engine_, s_.content, s_.library, job.name);
        if (posture) {
            // Said before anything is read: the outside file's content may
            // be anything the course's author should not reach.
            const auto outside = outside_files(*posture, s_.content, s_.library);
            for (const auto& f : outside) {
                post([p = q(job.name), f = q(f)](Exporter& j) { Q_EMIT j.outsideFile(p, f); });
            }
            if (!outside.empty() && !s_.allow_outside) {
                const Error e{kOutside, "it reads " + std::to_string(outside.size()) + " file" +
                                            (outside.size() == 1 ? "" : "s") +
                                            " outside the course folder"};
                return done(&e);
            }
        }
        Result<MediaLengths> lengths = posture ? exporting::measure_media(*posture, impl_.cancel)
                                               : Result<MediaLengths>(posture.error());
        Result<Schedule> schedule =
            lengths ? exporting::derive_schedule(*posture, *lengths) : Result<Schedule>(lengths.error());
        if (!schedule) return done(&schedule.error());
        exporting::title_chapters(*posture, *schedule);
        if (s_.schedule_only) {
            post([p = q(job.name),
                  json = QByteArray::fromStdString(schedule_json(*posture, *schedule))](
                     Exporter& j) { Q_EMIT j.scheduleReady(p, json); });
            return done(nullptr);
        }
        const std::string stem = file_stem(job.number, job.name);
        PageEntry entry;
        entry.name = job.name;
        entry.file = stem + "." + exporting::extension(s_.render.format);
        entry.chapters = stem + ".vtt";
        entry.chapter_list = schedule->chapters;
        entry.seconds = static_cast<double>(schedule->end_ns) / 1e9;
        post([n, m](Exporter& j) { Q_EMIT j.progressChanged(n, m, 0.0); });
        Status rendered = exporting::render(
            *posture, *schedule, *lengths, s_.render, (fs::path(s_.out) / entry.file).string(),
            [&](double share) {
                post([n, m, share](Exporter& j) {
                    j.d_->fraction = share;
                    Q_EMIT j.progressChanged(n, m, share);
                });
            },
            impl_.cancel);
        if (rendered) {
            rendered = write_file(fs::path(s_.out) / entry.chapters,
                                  exporting::chapters_vtt(job.name, *schedule));
        }
        // A file an earlier export wrote stays: only a complete new one
        // replaces it.
        if (!rendered) return done(&rendered.error());
        result.file = q(entry.file);
        result.chapters = q(entry.chapters);
        result.seconds = entry.seconds;
        page_.push_back(std::move(entry));
        done(nullptr);
    }

    Exporter::Impl& impl_;
    const Settings& s_;
    int run_;
    std::unique_ptr<CatalogueEngine> engine_;
    std::vector<Job> jobs_;
    std::vector<PageEntry> page_;  // exported postures only: reasons are the maintainer's
    int skipped_ = 0;
};

void Exporter::Impl::work(const Settings& s, int of_run) {
    Run(*this, s, of_run).go();
    {
        std::lock_guard lock(mutex);
        worker_done = of_run;
    }
    ended.notify_all();
}

void Exporter::Impl::finish(Exporter& job, int number, const QString& text,
                            std::chrono::milliseconds wait) {
    if (state != State::Running) return;
    error_number = number;
    error_string = text;
    cancelled = number == kInterrupted;
    if (worker.joinable()) {
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, wait, [&] { return worker_done == run; })) {
            lock.unlock();
            worker.join();
        } else {
            // Stuck in a call that does not return: left to itself; it
            // reaches nothing of this job when it comes back.
            worker.detach();
            if (!schedule_only) exporting::remove_own_parts(out.toStdString());
        }
    }
    state = State::Finished;
    Q_EMIT job.stateChanged(state);
    Q_EMIT job.finished();
}

Exporter::Exporter(QObject* parent) : QObject(parent), d_(std::make_shared<Impl>()) {
    d_->owner = this;
    d_->library = Course().narrationFolder();
}

Exporter::~Exporter() {
    d_->cancel = true;
    {
        std::lock_guard lock(d_->mutex);
        d_->owner = nullptr;
    }
    if (d_->worker.joinable()) {
        std::unique_lock lock(d_->mutex);
        const bool done =
            d_->ended.wait_for(lock, kCancelBackstop, [&] { return d_->worker_done == d_->run; });
        lock.unlock();
        if (done) {
            d_->worker.join();
        } else {
            d_->worker.detach();
        }
    }
}

void Exporter::setContentFolder(const QString& folder) { d_->content = folder; }
QString Exporter::contentFolder() const { return d_->content; }
void Exporter::setPostures(const QStringList& names) { d_->postures = names; }
QStringList Exporter::postures() const { return d_->postures; }
void Exporter::setOutputFolder(const QString& folder) { d_->out = folder; }
QString Exporter::outputFolder() const { return d_->out; }
void Exporter::setFormat(Format format) { d_->format = format; }
Exporter::Format Exporter::format() const { return d_->format; }
void Exporter::setFrameSize(const QSize& size) { d_->size = size; }
QSize Exporter::frameSize() const { return d_->size; }
void Exporter::setNarrationFolder(const QString& folder) { d_->library = folder; }
QString Exporter::narrationFolder() const { return d_->library; }
void Exporter::setAllowOutside(bool allow) { d_->allow_outside = allow; }
bool Exporter::allowOutside() const { return d_->allow_outside; }
void Exporter::setScheduleOnly(bool only) { d_->schedule_only = only; }
bool Exporter::scheduleOnly() const { return d_->schedule_only; }
void Exporter::setScormPackage(bool package) { d_->scorm = package; }
bool Exporter::scormPackage() const { return d_->scorm; }
Exporter::State Exporter::state() const { return d_->state; }
int Exporter::currentPosture() const { return d_->current; }
int Exporter::postureCount() const { return d_->count; }
double Exporter::postureProgress() const { return d_->fraction; }
double Exporter::progress() const {
    if (d_->state == State::Finished && !d_->cancelled) return 1.0;
    if (d_->count == 0) return 0.0;
    return (d_->current - 1 + d_->fraction) / d_->count;
}
int Exporter::errorNumber() const { return d_->error_number; }
QString Exporter::errorString() const { return d_->error_string; }
bool Exporter::wasCancelled() const { return d_->cancelled; }
QList<Exporter::PostureResult> Exporter::results() const { return d_->results; }

bool Exporter::start() {
    auto refuse = [&](const QString& text) {
        d_->error_number = kBadSetting;
        d_->error_string = text;
        return false;
    };
    if (d_->state == State::Running) return refuse("the export is already running");
    const QSize& z = d_->size;
    if (z.width() < 16 || z.height() < 16 || z.width() > 3840 || z.height() > 2160 ||
        z.width() % 2 != 0 || z.height() % 2 != 0) {
        return refuse(QString("the frame size %1x%2 is not even or not within 16x16 and 3840x2160")
                          .arg(z.width())
                          .arg(z.height()));
    }
    if (d_->content.isEmpty()) return refuse("no course folder is set");
    if (d_->out.isEmpty() && !d_->schedule_only) return refuse("no output folder is set");
    if (d_->worker.joinable()) d_->worker.join();  // the last run's, already over

    Settings s;
    s.content = d_->content.toStdString();
    s.out = d_->out.toStdString();
    s.library = d_->library.toStdString();
    for (const auto& p : d_->postures) s.postures.push_back(p.toStdString());
    s.render.format =
        d_->format == Format::WebM ? RenderOptions::Format::Webm : RenderOptions::Format::Mp4;
    s.render.width = z.width();
    s.render.height = z.height();
    s.allow_outside = d_->allow_outside;
    s.schedule_only = d_->schedule_only;
    s.scorm = d_->scorm && !d_->schedule_only;

    d_->state = State::Running;
    d_->current = d_->count = 0;
    d_->fraction = 0;
    d_->error_number = 0;
    d_->error_string.clear();
    d_->cancelled = false;
    d_->results.clear();
    d_->cancel = false;
    const int of_run = ++d_->run;
    d_->worker = std::thread([impl = d_, s = std::move(s), of_run] { impl->work(s, of_run); });
    Q_EMIT stateChanged(d_->state);
    return true;
}

void Exporter::cancel() {
    if (d_->state != State::Running || d_->cancel.exchange(true)) return;
    // Should the worker not come back (a call that never returns), the job
    // still ends, as a cancelled one.
    QTimer::singleShot(kCancelBackstop, this, [impl = d_, of_run = d_->run] {
        if (impl->owner && impl->run == of_run && impl->state == State::Running)
            impl->finish(*impl->owner, kInterrupted,
                         "interrupted; a call of the export did not return in time, its parts "
                         "were removed",
                         std::chrono::milliseconds(0));
    });
}

}  // namespace strovia
