#include "strovia/course.hpp"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>

#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "catalogue/rules.hpp"
#include "jet/engine.hpp"
#include "mci/interpreter.hpp"
#include "platform/paths.hpp"
#include "playback/commands.hpp"
#include "qt/course_check.hpp"
#include "qt/qt_host.hpp"
#include "simulation/virtual_run.hpp"

namespace strovia {
namespace {

namespace fs = std::filesystem;

QString q(const std::string& s) { return QString::fromStdString(s); }

// Decodes files with the devices and the picture decoding the control uses.
class RealProbe final : public course::MediaProbe {
public:
    static Result<std::unique_ptr<RealProbe>> create() {
        auto mci = mci::Interpreter::create({"fakesink", "fakesink", ""});
        if (!mci) return mci.error();
        return std::unique_ptr<RealProbe>(new RealProbe(std::move(mci).value()));
    }

    Result<int> video_frames(const std::string& path) override {
        if (auto s = open(path); !s) return s.error();
        Result<std::string> length = mci_->run("set chk time format frames");
        if (length) length = mci_->run("status chk length");
        (void)mci_->run("close chk");
        if (!length) return Error{length.error().number, "no length: " + length.error().text};
        try {
            return std::stoi(*length);
        } catch (const std::exception&) {
            return Error{0, "length \"" + *length + "\" is no number"};
        }
    }

    Status narration(const std::string& path) override {
        if (auto s = open(path); !s) return s;
        (void)mci_->run("close chk");
        return {};
    }

    Status picture(const std::string& path) override {
        if (auto s = exists(path); !s) return s;
        return status_of(qt::read_picture(path));
    }

private:
    explicit RealProbe(std::unique_ptr<mci::Interpreter> mci) : mci_(std::move(mci)) {}

    static Status exists(const std::string& path) {
        std::error_code ec;
        const fs::path file = platform::map_path(path);
        if (!fs::exists(file, ec)) return Error{0, "missing"};
        if (fs::is_directory(file, ec)) return Error{0, "is a folder"};
        return {};
    }

    Status open(const std::string& path) {
        if (auto s = exists(path); !s) return s;
        auto r = mci_->run("open " + commands::path_token(path) + " alias chk type mpegVideo");
        if (!r) return Error{r.error().number, "cannot be decoded: " + r.error().text};
        return {};
    }

    std::unique_ptr<mci::Interpreter> mci_;
};

// A medium's length as the control's device measures it; nothing when the
// device cannot open it.
std::optional<sim::Medium> measure(mci::Interpreter& mci, const sim::Named& named) {
    std::error_code ec;
    const fs::path file = platform::map_path(named.path);
    if (!fs::exists(file, ec) || fs::is_directory(file, ec)) return std::nullopt;
    if (!mci.run("open " + commands::path_token(named.path) + " alias len type mpegVideo")) {
        return std::nullopt;
    }
    auto number = [&](const char* format) -> std::int64_t {
        if (!mci.run(std::string("set len time format ") + format)) return -1;
        auto r = mci.run("status len length");
        if (!r) return -1;
        try {
            return std::stoll(*r);
        } catch (const std::exception&) {
            return -1;
        }
    };
    std::optional<sim::Medium> out;
    const std::int64_t ms = number("milliseconds");
    if (named.video) {
        // The rate as frames per measured length: frame times then fall
        // where the device counts its positions.
        const std::int64_t frames = number("frames");
        if (ms > 0 && frames > 0 && frames <= INT32_MAX / 1000 && ms <= INT32_MAX) {
            out = sim::Medium{ms * 1000000, static_cast<int>(frames),
                              static_cast<int>(frames * 1000), static_cast<int>(ms)};
        }
    } else if (ms >= 0) {
        out = sim::Medium{ms * 1000000, 0, 0, 1};
    }
    (void)mci.run("close len");
    return out;
}

Presentation presentation(catalogue::Shows shows) {
    return shows == catalogue::Shows::Video ? Presentation::Video : Presentation::Photo;
}

CoursePosture to_public(const course::PostureSummary& p) {
    CoursePosture out;
    out.row = p.row;
    out.name = q(p.name);
    out.asanaId = q(p.asana_id);
    out.dispType = q(p.disp_type);
    out.dispTypeNull = p.disp_type_null;
    out.fileOpen = presentation(p.file_open);
    out.preview = p.preview_error ? Presentation::Fails : presentation(p.preview);
    out.previewErrorNumber = p.preview_error ? p.preview_error->number : 0;
    out.parts = p.parts;
    return out;
}

CourseReport to_public(const course::CourseReport& r) {
    CourseReport out;
    for (const auto& p : r.postures) out.postures.push_back(to_public(p));
    for (const auto& f : r.findings) {
        out.findings.push_back(
            {f.warning ? CourseFinding::Severity::Warning : CourseFinding::Severity::Error,
             q(f.posture), q(f.place), q(f.text)});
    }
    return out;
}

bool holds_catalogue(const std::string& folder) {
    std::error_code ec;
    return fs::is_regular_file(platform::map_path(catalogue::catalogue_path(folder)), ec);
}

}  // namespace

QString CourseFinding::line() const {
    QString out = posture.isEmpty() ? QString() : posture + " ";
    out += "[" + place + "]: ";
    if (severity == Severity::Warning) out += "warning: ";
    return out + text;
}

int CourseReport::errors() const {
    int n = 0;
    for (const auto& f : findings) n += f.severity == CourseFinding::Severity::Error;
    return n;
}

int CourseReport::warnings() const { return static_cast<int>(findings.size()) - errors(); }

// Private to the library, though nested in an exported class.
struct __attribute__((visibility("hidden"))) Course::Impl {
    QString folder;
    bool open = false;
    int error_number = 0;
    QString error_text;
    QString suggested;
    bool no_catalogue = false;  // the folder itself is no course
    QList<CoursePosture> postures;
    QString narration_folder = q(qt::library_folder_of_this_code());

    void fail(int number, const QString& text, bool folder_fault = false) {
        error_number = number;
        error_text = text;
        no_catalogue = folder_fault;
    }
};

Course::Course() : d_(std::make_unique<Impl>()) {}
Course::~Course() = default;

bool Course::open(const QString& folder) {
    const QString narrations = d_->narration_folder;
    *d_ = Impl{};
    d_->narration_folder = narrations;
    d_->folder = folder;
    const std::string content = folder.toStdString();
    const QFileInfo info(q(platform::map_path(content)));
    if (folder.isEmpty()) {
        d_->fail(engine_error::kFileNotFound, "No course folder was given.", true);
        return false;
    }
    if (!info.exists()) {
        d_->fail(engine_error::kFileNotFound, QString("The folder %1 does not exist.").arg(folder),
                 true);
        return false;
    }
    if (!info.isDir()) {
        d_->fail(engine_error::kFileNotFound, QString("%1 is not a folder.").arg(folder), true);
        return false;
    }
    const QString expected = q(std::string(catalogue::kCatalogueInContent.substr(1)))
                                 .replace('\\', '/');  // "video/AVPelmo.mdb"
    if (!holds_catalogue(content)) {
        QString text =
            QString("This folder holds no course: %1 is missing in %2.").arg(expected, folder);
        std::string up = platform::map_path(content);
        while (up.size() > 1 && up.back() == '/') up.pop_back();
        std::error_code ec;
        up = fs::absolute(fs::path(up), ec).parent_path().string();
        if (!up.empty() && holds_catalogue(up)) {
            d_->suggested = q(up);
            text += QString(" Its parent folder %1 is the course.").arg(d_->suggested);
        }
        d_->fail(engine_error::kFileNotFound, text, true);
        return false;
    }
    auto engine = jet::make_engine();
    const auto report =
        course::check_course(*engine, nullptr, content, d_->narration_folder.toStdString());
    if (report.unreadable) {
        d_->fail(report.unreadable->number,
                 QString("The course's catalogue %1 cannot be read: %2")
                     .arg(q(platform::map_path(catalogue::catalogue_path(content))),
                          q(report.unreadable->text)));
        return false;
    }
    for (const auto& p : report.postures) d_->postures.push_back(to_public(p));
    d_->open = true;
    return true;
}

bool Course::isOpen() const { return d_->open; }
QString Course::folder() const { return d_->folder; }
int Course::errorNumber() const { return d_->error_number; }
QString Course::errorString() const { return d_->error_text; }
QString Course::suggestedFolder() const { return d_->suggested; }
QList<CoursePosture> Course::postures() const { return d_->postures; }
QString Course::narrationFolder() const { return d_->narration_folder; }
void Course::setNarrationFolder(const QString& folder) { d_->narration_folder = folder; }

namespace {

CourseTimeline unknown_timeline(int number, const QString& text) {
    CourseTimeline out;
    out.errorNumber = number;
    out.errorString = text;
    return out;
}

// The slow half: the media measured, the programme run. Any thread.
CourseTimeline run_timeline(const Result<sim::Posture>& p) {
    if (!p) return unknown_timeline(p.error().number, q(p.error().text));
    auto mci = mci::Interpreter::create({"fakesink", "fakesink", ""});
    if (!mci) {
        return unknown_timeline(mci.error().number,
                                "The media engine cannot start: " + q(mci.error().text));
    }
    sim::Media media;
    for (const auto& named : sim::media_named(*p)) {
        if (auto m = measure(**mci, named)) media[named.path] = *m;
    }
    auto run = sim::run_programme(*p, media);
    if (!run) return unknown_timeline(run.error().number, q(run.error().text));
    CourseTimeline out;
    constexpr qint64 kNsPerMs = 1000000;
    for (const auto& span : run->parts()) {
        out.parts.append({span.from_ns / kNsPerMs, span.length_ns / kNsPerMs});
    }
    out.totalMs = run->end_ns / kNsPerMs;
    return out;
}

}  // namespace

// The quick half, on the caller's thread: the catalogue is opened (shared)
// only here, like every other reading of the course.
static Result<sim::Posture> read_for_timeline(bool open, int error_number, const QString& folder,
                                              const QString& narrations, const QString& posture) {
    if (!open) {
        return Error{error_number != 0 ? error_number : engine_error::kFileNotFound,
                     "No course is open."};
    }
    const std::string content = folder.toStdString();
    auto engine = jet::make_engine();
    auto db = engine->default_workspace().open_database(catalogue::catalogue_path(content), false,
                                                        true, catalogue::kConnect);
    if (!db) {
        return Error{db.error().number,
                     "The course's catalogue cannot be read: " + db.error().text};
    }
    auto p = sim::read_posture(**db, posture.toStdString(), content, narrations.toStdString());
    (void)(*db)->close();
    if (!p && p.error().number == engine_error::kNoCurrentRecord) {
        return Error{p.error().number, posture.toStdString() + " is not in the catalogue."};
    }
    return p;
}

CourseTimeline Course::timeline(const QString& posture) const {
    return run_timeline(
        read_for_timeline(d_->open, d_->error_number, d_->folder, d_->narration_folder, posture));
}

void Course::timeline(const QString& posture, QObject* context,
                      std::function<void(const CourseTimeline&)> done) const {
    auto p = std::make_shared<Result<sim::Posture>>(
        read_for_timeline(d_->open, d_->error_number, d_->folder, d_->narration_folder, posture));
    QThreadPool::globalInstance()->start(
        [p, guard = QPointer<QObject>(context), done = std::move(done)]() mutable {
            auto t = std::make_shared<CourseTimeline>(run_timeline(*p));
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [t, guard, done] {
                    if (guard) done(*t);
                },
                Qt::QueuedConnection);
        });
}

CourseReport Course::check(CheckDepth depth) const {
    if (d_->no_catalogue || d_->folder.isEmpty()) {
        CourseReport out;
        out.findings.push_back(
            {CourseFinding::Severity::Error,
             {},
             "catalogue",
             d_->folder.isEmpty()
                 ? QString("No course folder was given.")
                 : QString("error %1: %2").arg(d_->error_number).arg(d_->error_text)});
        return out;
    }
    std::unique_ptr<RealProbe> probe;
    if (depth == CheckDepth::Media) {
        auto made = RealProbe::create();
        if (!made) {
            CourseReport out;
            out.findings.push_back({CourseFinding::Severity::Error,
                                    {},
                                    "media",
                                    QString("the media engine cannot start: error %1: %2")
                                        .arg(made.error().number)
                                        .arg(q(made.error().text))});
            return out;
        }
        probe = std::move(made).value();
    }
    auto engine = jet::make_engine();
    return to_public(course::check_course(*engine, probe.get(), d_->folder.toStdString(),
                                          d_->narration_folder.toStdString()));
}

}  // namespace strovia
