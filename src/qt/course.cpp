#include "strovia/course.hpp"

#include <QFileInfo>

#include <filesystem>
#include <memory>
#include <string>

#include "catalogue/rules.hpp"
#include "jet/engine.hpp"
#include "mci/interpreter.hpp"
#include "platform/paths.hpp"
#include "playback/commands.hpp"
#include "qt/course_check.hpp"
#include "qt/qt_host.hpp"

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
