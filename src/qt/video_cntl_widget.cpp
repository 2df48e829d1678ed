#include "strovia/video_cntl_widget.hpp"

#include <QGuiApplication>
#include <QLabel>
#include <QMetaMethod>
#include <QPointer>
#include <QResizeEvent>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "control/video_cntl.hpp"
#include "jet/engine.hpp"
#include "mci/interpreter.hpp"
#include "playback/commands.hpp"
#include "qt/label_frame_target.hpp"
#include "qt/picture_view.hpp"
#include "qt/programme_rows.hpp"
#include "qt/qt_host.hpp"
#include "qt/settings_store.hpp"
#include "qt/tick_pacer.hpp"

namespace strovia {
namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kNoticeMilliseconds = 6000;

// Window handles by which the interpreter finds each control's Picture1.
std::int64_t next_handle() {
    static std::atomic<std::int64_t> next{1};
    return next.fetch_add(1);
}

// Stands in for the interpreter when the media engine cannot start, so
// that every command fails visibly instead of the control crashing.
class UnavailableChannel final : public MediaChannel {
public:
    UnavailableChannel(Error why, mci::Reporter& reporter)
        : why_(std::move(why)), reporter_(reporter) {}
    bool execute(std::string_view command) override {
        reporter_.report(command, why_);
        return false;
    }
    std::int32_t send_string(std::string_view, char* reply, std::uint32_t length,
                             std::int64_t) override {
        if (length > 0) reply[0] = '\0';
        return why_.number;
    }

private:
    Error why_;
    mci::Reporter& reporter_;
};

std::string s(const QString& q) { return q.toStdString(); }
QString q(const std::string& s) { return QString::fromStdString(s); }
QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Passes every command and query on and tells the widget of each.
class ObservedChannel final : public MediaChannel {
public:
    std::function<void()> before_command;
    std::function<void(std::string_view, bool)> on_command;
    std::function<void(std::string_view, const char*, std::int32_t)> on_query;
    MediaChannel* inner = nullptr;

    bool execute(std::string_view command) override {
        before_command();
        const bool ok = inner->execute(command);
        on_command(command, ok);
        return ok;
    }
    std::int32_t send_string(std::string_view command, char* reply, std::uint32_t length,
                             std::int64_t notify) override {
        const std::int32_t rc = inner->send_string(command, reply, length, notify);
        on_query(command, reply, rc);
        return rc;
    }
};

// The host adapter of the widget: the Qt host, and the failures the
// routines pass over.
class WidgetHost final : public qt::QtHost {
public:
    using QtHost::QtHost;
    std::function<void(std::string_view, const Error&)> on_suppressed;
    std::function<void(Medium)> on_open_failed;
    void suppressed_failure(std::string_view routine, const Error& error) override {
        on_suppressed(routine, error);
    }
    void open_failed(Medium medium) override { on_open_failed(medium); }
};

using Kind = VideoCntlWidget::ProgrammeKind;
using WidgetError = VideoCntlWidget::Error;

constexpr std::uint32_t kDispatchFacility = 0x80020000u;

// What a failure means to the integrator. "No current record" is the
// unknown posture when the control says its lookup found none, else an
// empty table.
WidgetError classify(std::int32_t number, bool posture_not_found) {
    if ((static_cast<std::uint32_t>(number) & 0xFFFF0000u) == kDispatchFacility) {
        return VideoCntlWidget::CallError;
    }
    switch (number) {
        case engine_error::kNoCurrentRecord:
            return posture_not_found ? VideoCntlWidget::PostureError : VideoCntlWidget::TableError;
        case engine_error::kFileNotFound:
        case engine_error::kInvalidPassword:
        case engine_error::kFileInUse:
        case engine_error::kPermissionDenied:
        case engine_error::kUnrecognizedFormat:
        case runtime_error::kObjectNotSet: return VideoCntlWidget::CatalogueError;
        case engine_error::kTableNotFound:
        case engine_error::kQuerySyntax:
        case engine_error::kInvalidStatement:
        case engine_error::kFromSyntax:
        case engine_error::kTrailingCharacters:
        case engine_error::kObjectClosed: return VideoCntlWidget::TableError;
        case runtime_error::kFileNotFound:
        case runtime_error::kInvalidPicture: return VideoCntlWidget::PictureError;
        case runtime_error::kInvalidArgument: return VideoCntlWidget::CallError;
        default: return VideoCntlWidget::FieldError;
    }
}

QString describe(WidgetError kind, std::int32_t number) {
    switch (kind) {
        case VideoCntlWidget::CatalogueError:
            return number == runtime_error::kObjectNotSet ? "no catalogue is open"
                                                          : "the catalogue cannot be opened";
        case VideoCntlWidget::TableError:
            return number == engine_error::kNoCurrentRecord ? "the posture's table has no rows"
                                                            : "the posture's table cannot be read";
        case VideoCntlWidget::FieldError: return "a field of the catalogue cannot be read";
        case VideoCntlWidget::VideoError:
            return number == mci::err::kMediaStopped || number == mci::err::kPlaybackFailed
                       ? "the video cannot go on"
                       : "the video cannot be opened";
        case VideoCntlWidget::NarrationError:
            return number == mci::err::kPlaybackFailed ? "a narration cannot go on"
                                                       : "a narration cannot be opened";
        case VideoCntlWidget::PictureError: return "a picture cannot be shown";
        case VideoCntlWidget::PostureError: return "the posture is not in the catalogue";
        case VideoCntlWidget::CallError: return "the call was refused";
        case VideoCntlWidget::NoError: break;
    }
    return {};
}

}  // namespace

ControlObserver::~ControlObserver() = default;

// Private to the library, though nested in an exported class.
struct __attribute__((visibility("hidden"))) VideoCntlWidget::Impl final : mci::Reporter {
    VideoCntlWidget* self;
    qt::PictureView* picture1;
    QLabel* picture2;
    QLabel* notice_label;
    QTimer notice_timer;
    bool audio_notice_told = false;
    std::int64_t handle1 = next_handle();
    std::int64_t handle2 = next_handle();
    strovia::Error last;
    strovia::Error last_media_error;  // of the media command that failed last
    ControlObserver* observer = nullptr;

    // Destroyed in reverse order: the control goes first, then the frame
    // target is unregistered, then the devices close with the interpreter.
    std::unique_ptr<mci::Interpreter> interpreter;
    std::unique_ptr<UnavailableChannel> unavailable;
    std::unique_ptr<qt::LabelFrameTarget> target;
    ObservedChannel channel;
    // Each control has its own catalogue engine, and with it the engine's
    // copy of the last catalogue read: it goes with the control, not with
    // the process. Controls of one process still share a catalogue's lock.
    EngineHolder engines{jet::make_engine};
    std::unique_ptr<WidgetHost> host;
    // Ticks the fast timers when a device has something new to read.
    std::unique_ptr<qt::TickPacer> pacer;
    std::unique_ptr<VideoCntl> control;

    // What the widget reports, brought up to date once the outermost host
    // call or tick has returned (`depth` counts them: ticks run inside the
    // yields of a routine too), so that no signal reaches the host inside a
    // routine.
    int depth = 0;
    bool starting = false;  // a start method ran since the last settle
    State state = Idle;
    Kind kind = None;
    int current = 0;
    int count = 0;
    qint64 position = 0;
    qint64 reported_position = 0;
    int reported_current = 0;
    int reported_count = 0;
    WidgetError error = NoError;
    QString error_string;
    int error_number = 0;
    qreal rate = 1.0;
    std::optional<std::pair<WidgetError, strovia::Error>> pending_error;

    explicit Impl(VideoCntlWidget* w)
        : self(w),
          picture1(new qt::PictureView(w)),
          picture2(new QLabel(w)),
          notice_label(new QLabel(w)) {
        picture1->setObjectName("Picture1");
        picture1->setGeometry(0, 0, kWidth, kHeight);
        picture2->setObjectName("Picture2");
        picture2->setGeometry(0, kHeight - 1, kWidth, 1);
        notice_label->setObjectName("notice");
        notice_label->setWordWrap(true);
        notice_label->setStyleSheet("background: rgba(0,0,0,170); color: white; padding: 4px;");
        notice_label->setGeometry(0, 0, kWidth, 60);
        notice_label->hide();
        notice_timer.setSingleShot(true);
        QObject::connect(&notice_timer, &QTimer::timeout, notice_label, &QLabel::hide);

        auto made = mci::Interpreter::create({});
        if (made) {
            interpreter = std::move(made).value();
            interpreter->set_reporter(this);
            tell_audio_notice_later();
            target = std::make_unique<qt::LabelFrameTarget>(picture1);
            channel.inner = interpreter.get();
        } else {
            unavailable = std::make_unique<UnavailableChannel>(made.error(), *this);
            channel.inner = unavailable.get();
        }
        channel.before_command = [this] { sync_frame_target(); };
        channel.on_command = [this](std::string_view command, bool ok) {
            if (observer) observer->commandSent(q(command), ok);
        };
        channel.on_query = [this](std::string_view command, const char* reply, std::int32_t rc) {
            // A failed query left the buffer as it was: not a position.
            if (command == commands::kStatusVideoPosition && rc == 0) position = std::atoll(reply);
            if (observer) observer->queryAnswered(q(command), QString::fromUtf8(reply));
        };

        host = std::make_unique<WidgetHost>(
            picture1, picture2, handle1, handle2,
            qt::HostCallbacks{[this](std::string_view name) { property_changed(name); },
                              [this] { video_end(); },
                              [this](const std::string& text) { message(text); }});
        host->on_suppressed = [this](std::string_view, const strovia::Error& e) { failure(e); };
        host->on_open_failed = [this](Host::Medium medium) {
            failure(medium == Host::Medium::Video ? VideoError : NarrationError, last_media_error);
        };
        host->timer1().on_change = [this] { timer_changed(1, host->timer1()); };
        host->timer2().on_change = [this] { timer_changed(2, host->timer2()); };
        host->picture1().on_picture = [this](const std::string& path) {
            if (observer) observer->pictureChanged(q(path));
        };
        control = std::make_unique<VideoCntl>(*host, channel, engines);
        host->bind_ticks(
            [this] {
                Call call(*this);
                control->Timer1_Timer();
            },
            [this] {
                Call call(*this);
                control->Timer2_Timer();
            });
        pacer = std::make_unique<qt::TickPacer>(host->timer1(), host->timer2());
        if (interpreter) interpreter->set_change_listener(pacer->change_listener());
    }

    // A video goes to Picture1 when it opens while there is a screen to show
    // it on or the widget is shown; a hidden widget without a screen (a
    // headless host) leaves it to the media's own null sink, unpainted.
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    bool target_on = false;
    void sync_frame_target() {
        const bool want = interpreter && (!offscreen || self->isVisible());
        if (want == target_on) return;
        if (want) {
            interpreter->register_frame_target(handle1, target.get());
        } else {
            interpreter->unregister_frame_target(handle1);
        }
        target_on = want;
    }

    // One host call or tick: the widget settles when the outermost returns.
    struct Call {
        Impl& d;
        explicit Call(Impl& impl) : d(impl) { ++d.depth; }
        ~Call() {
            if (--d.depth == 0) d.settle();
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
    };

    void timer_changed(int which, qt::QtTimer& timer) {
        if (observer) observer->timerChanged(which, timer.enabled(), timer.interval());
    }

    // Delivered once the tick that ends the programme has returned, so that
    // a handler may start the next programme or delete the control.
    void video_end() {
        QMetaObject::invokeMethod(
            self,
            [this] {
                if (observer) observer->eventRaised("VideoEnd");
                emit self->VideoEnd();
            },
            Qt::QueuedConnection);
    }

    void message(const std::string& text) {
        const QString shown = q(text);
        if (observer) observer->messageShown(shown);
        if (self->isSignalConnected(QMetaMethod::fromSignal(&VideoCntlWidget::messageRequested))) {
            emit self->messageRequested(shown);
            return;
        }
        qt::show_message_box(picture1, text);
    }

    // The first failure since the last settle is the cause; what follows
    // in the same call is its consequence (no catalogue, so no rows).
    void failure(WidgetError kind_of, const strovia::Error& e) {
        if (pending_error) return;
        if (kind_of == PostureError) {
            // Said in the control's own words, with the engine's number.
            pending_error.emplace(
                kind_of, strovia::Error{e.number, "Asana not found - " + control->StoredAsanaNaME});
        } else {
            pending_error.emplace(kind_of, e);
        }
    }
    void failure(const strovia::Error& e) {
        failure(classify(e.number, control->posture_not_found()), e);
    }

    // How many parts the programme that started has: read once, from the
    // rows it plays.
    void count_parts() {
        count = 0;
        if (kind == VideoPreview) {
            count = 1;
        } else if (kind != None) {
            count = qt::read_programme_rows(engines, control->Db, control->StoredResourcedir,
                                            control->StoredAsanaNaME, kind == Video)
                        .parts(kind == PhotoPreview);
        }
        position = 0;
    }

    Kind kind_of_run() const {
        switch (control->run()) {
            case VideoCntl::Run::Video: return Video;
            case VideoCntl::Run::VideoPreview: return VideoPreview;
            case VideoCntl::Run::Photo: return control->PhotoPreview ? PhotoPreview : Photo;
            default: return None;
        }
    }

    // The control's phase as the widget says it once the outermost call
    // has returned: a start still "starting" then has stopped at a failure.
    static State state_of(VideoCntl::Phase phase) {
        switch (phase) {
            case VideoCntl::Phase::Idle:
            case VideoCntl::Phase::Starting: return Idle;
            case VideoCntl::Phase::Playing: return Playing;
            case VideoCntl::Phase::Held: return Held;
            case VideoCntl::Phase::Paused: return Paused;
            case VideoCntl::Phase::Previewing: return Previewing;
            case VideoCntl::Phase::Ended: return Ended;
        }
        return Idle;
    }

    void settle() {
        const Kind was_kind = kind;
        const VideoCntl::Phase phase = control->phase();
        if (starting) {
            starting = false;
            kind = kind_of_run();
            count_parts();
        } else if (phase == VideoCntl::Phase::Idle) {
            kind = None;  // StopPlay
        }
        if (kind == None) count = 0;
        current = std::min(control->part(), count);
        const State now = state_of(phase);

        // A handler may delete the widget: nothing of it is touched after
        // an emit that did.
        const QPointer<VideoCntlWidget> alive(self);
        if (pending_error) {
            auto [kind_of, e] = *std::exchange(pending_error, std::nullopt);
            error = kind_of;
            error_number = e.number;
            error_string = describe(kind_of, e.number) + ": " + q(e.text);
            emit self->errorChanged();
            if (!alive) return;
            emit self->errorOccurred(kind_of, error_string);
            if (!alive) return;
        }
        if (kind != was_kind) {
            emit self->programmeKindChanged(kind);
            if (!alive) return;
        }
        if (current != reported_current || count != reported_count) {
            reported_current = current;
            reported_count = count;
            emit self->progressChanged(current, count);
            if (!alive) return;
        }
        if (position != reported_position) {
            reported_position = position;
            emit self->positionChanged(position);
            if (!alive) return;
        }
        set_state(now);
    }

    // The one place the state changes.
    void set_state(State now) {
        if (now == state) return;
        state = now;
        emit self->stateChanged(now);
    }

    // A new programme starts clean.
    void begin_start() {
        starting = true;
        pending_error.reset();
        if (error != NoError) {
            error = NoError;
            error_string.clear();
            error_number = 0;
            emit self->errorChanged();
        }
    }

    ~Impl() override {
        observer = nullptr;
        control.reset();
        pacer.reset();
        host.reset();
        if (target_on) interpreter->unregister_frame_target(handle1);
        target.reset();
        interpreter.reset();
    }

    // Picture1 fills the control whatever size its host gives it; Picture2
    // keeps to the bottom row.
    void place_children(QSize size) {
        picture1->setGeometry(0, 0, size.width(), size.height());
        picture2->setGeometry(0, size.height() - 1, size.width(), 1);
    }

    void property_changed(std::string_view name) {
        if (name == "Resourcedir") emit self->ResourcedirChanged(q(control->Resourcedir()));
        if (name == "AsanaNaME") emit self->AsanaNaMEChanged(q(control->AsanaNaME()));
    }

    // Called inside a routine: the user is told after it has returned,
    // never through a nested event loop.
    void report(std::string_view command, const strovia::Error& e) override {
        // The control says which of its opens failed; this says why.
        last_media_error = e;
        const QString text =
            QString("The media command \"%1\" failed: error %2: %3")
                .arg(QString::fromUtf8(command.data(), static_cast<qsizetype>(command.size())))
                .arg(e.number)
                .arg(q(e.text));
        QMetaObject::invokeMethod(
            self, [this, text] { show_notice(text); }, Qt::QueuedConnection);
    }

    // A stream stopped by itself: a failure, or a video that stopped short
    // of the boundary the programme waits for (the programme counts it as
    // reached and goes on), becomes one errorOccurred. The position stays
    // the frame the video stopped at.
    void stopped(std::string_view alias, const mci::Stop& stop) override {
        const bool video = alias == "video";
        if (stop.found_at_close) {
            // A device of a programme that is over: not this start's cause.
            const QString text = QString("The %1 failed before it was closed: error %2: %3")
                                     .arg(q(alias))
                                     .arg(stop.failure->number)
                                     .arg(q(stop.failure->text));
            QMetaObject::invokeMethod(
                self, [this, text] { show_notice(text); }, Qt::QueuedConnection);
            return;
        }
        const bool waits = video && control->run() == VideoCntl::Run::Video;
        if (video && !stop.position.empty()) position = std::atoll(stop.position.c_str());
        if (auto e = mci::stop_failure(alias, stop, waits ? control->CurStartPos : -1))
            failure(video ? VideoError : NarrationError, *e);
    }

    // Once per widget, the way media failures are told: no sound output
    // here. Read when shown, so outputs set right after construction take
    // the notice back, and outputs set later without a sound sink give it.
    void tell_audio_notice_later() {
        if (audio_notice_told || interpreter->audio_notice().empty()) return;
        QMetaObject::invokeMethod(
            self,
            [this] {
                if (audio_notice_told || interpreter->audio_notice().empty()) return;
                audio_notice_told = true;
                show_notice(q(interpreter->audio_notice()));
            },
            Qt::QueuedConnection);
    }

    void show_notice(const QString& text) {
        if (self->isSignalConnected(QMetaMethod::fromSignal(&VideoCntlWidget::notice))) {
            emit self->notice(text);
            return;
        }
        notice_label->setText(text);
        notice_label->adjustSize();
        notice_label->resize(kWidth, notice_label->height());
        notice_label->raise();
        notice_label->show();
        notice_timer.start(kNoticeMilliseconds);
    }
};

VideoCntlWidget::VideoCntlWidget(QWidget* parent)
    : QWidget(parent), d_(std::make_unique<Impl>(this)) {
    resize(kWidth, kHeight);
    (void)finish("InitProperties", d_->control->UserControl_InitProperties().ok());
}

VideoCntlWidget::VideoCntlWidget(QSettings& saved, QWidget* parent)
    : QWidget(parent), d_(std::make_unique<Impl>(this)) {
    resize(kWidth, kHeight);
    qt::SettingsStore store(saved);
    auto st = d_->control->UserControl_ReadProperties(store);
    if (!st) d_->last = st.error();
}

VideoCntlWidget::~VideoCntlWidget() = default;

QString VideoCntlWidget::Resourcedir() const { return q(d_->control->Resourcedir()); }
void VideoCntlWidget::setResourcedir(const QString& value) { d_->control->Resourcedir(s(value)); }
QString VideoCntlWidget::AsanaNaME() const { return q(d_->control->AsanaNaME()); }
void VideoCntlWidget::setAsanaNaME(const QString& value) { d_->control->AsanaNaME(s(value)); }

bool VideoCntlWidget::writeProperties(QSettings& settings) {
    qt::SettingsStore store(settings);
    auto st = d_->control->UserControl_WriteProperties(store);
    if (!st) d_->last = st.error();
    return st.ok();
}

QVariant VideoCntlWidget::invoke(int dispid, int kind, const QVariantList& args) {
    if (kind < 0 || kind > 2) {
        d_->last = strovia::Error{static_cast<std::int32_t>(0x80020003), "Member not found."};
        Impl::Call call(*d_);
        d_->failure(d_->last);
        return {};
    }
    std::vector<Variant> in;
    for (const QVariant& a : args) {
        if (a.isValid()) {
            in.emplace_back(s(a.toString()));
        } else {
            in.emplace_back(Empty{});
        }
    }
    // A method reached by its number is reported like the same slot.
    const auto id = static_cast<DispId>(dispid);
    const bool method = kind == static_cast<int>(InvokeKind::Method);
    const bool starts =
        method && (id == dispid::kFileOpen || id == dispid::kInitAudio ||
                   id == dispid::kInitVideo || id == dispid::kPreview || id == dispid::kPpreview);
    if (method && d_->observer) {
        for (const MemberInfo& m : members()) {
            if (m.dispid == id && m.kind == MemberKind::Method) {
                d_->observer->methodCalled(q(m.name));
            }
        }
    }
    const QPointer<VideoCntlWidget> alive(this);
    Result<Variant> r = Variant{Empty{}};
    {
        Impl::Call call(*d_);
        if (starts) d_->begin_start();
        r = d_->control->invoke(id, static_cast<InvokeKind>(kind), in);
        if (!r) d_->failure(r.error());
    }
    if (!alive) return {};
    if (!r) {
        d_->last = r.error();
        return {};
    }
    d_->last = {};
    if (const auto* text = std::get_if<std::string>(&*r)) return q(*text);
    return {};
}

int VideoCntlWidget::lastErrorNumber() const { return d_->last.number; }
QString VideoCntlWidget::lastErrorText() const { return q(d_->last.text); }
QLabel* VideoCntlWidget::picture1() const { return d_->picture1; }
QLabel* VideoCntlWidget::picture2() const { return d_->picture2; }

bool VideoCntlWidget::setMediaOutputs(const MediaOutputs& outputs, QString* why) {
    auto say = [why](const QString& text) {
        if (why != nullptr) *why = text;
        return false;
    };
    if (!d_->interpreter) return say(QStringLiteral("the media engine did not start"));
    const auto set = d_->interpreter->set_outputs({outputs.videoSink.toStdString(),
                                                   outputs.audioSink.toStdString(),
                                                   outputs.sinkLog.toStdString()});
    if (!set) {
        return say(QString::fromStdString(set.error().text) +
                   QStringLiteral(" (error %1)").arg(set.error().number));
    }
    d_->tell_audio_notice_later();
    if (why != nullptr) why->clear();
    return true;
}

VideoCntlWidget::Placement VideoCntlWidget::placement() const {
    return d_->picture1->scaled() ? Placement::ScaledToFit : Placement::OriginalSize;
}

void VideoCntlWidget::setPlacement(Placement placement) {
    if (placement == this->placement()) return;
    d_->picture1->set_scaled(placement == Placement::ScaledToFit);
    emit placementChanged(placement);
}

void VideoCntlWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    d_->place_children(event->size());
}

QSize VideoCntlWidget::sizeHint() const { return {kWidth, kHeight}; }
QSize VideoCntlWidget::minimumSizeHint() const { return {kWidth, kHeight}; }

VideoCntlWidget::State VideoCntlWidget::state() const { return d_->state; }
VideoCntlWidget::ProgrammeKind VideoCntlWidget::programmeKind() const { return d_->kind; }
int VideoCntlWidget::currentPart() const { return d_->current; }
int VideoCntlWidget::partCount() const { return d_->count; }
qint64 VideoCntlWidget::position() const { return d_->reported_position; }
VideoCntlWidget::Error VideoCntlWidget::error() const { return d_->error; }
QString VideoCntlWidget::errorString() const { return d_->error_string; }
int VideoCntlWidget::errorNumber() const { return d_->error_number; }
void VideoCntlWidget::setObserver(ControlObserver* observer) { d_->observer = observer; }

bool VideoCntlWidget::finish(const char* method, bool ok) {
    if (ok) {
        d_->last = {};
        return true;
    }
    emit failed(QString::fromLatin1(method), d_->last.number, q(d_->last.text));
    return false;
}

namespace {
enum class Effect { Other, Starts, Stops };
}  // namespace

template <typename Routine>
bool VideoCntlWidget::call(const char* method, int effect, Routine routine) {
    if (d_->observer) d_->observer->methodCalled(QString::fromLatin1(method));
    const QPointer<VideoCntlWidget> alive(this);
    bool ok = false;
    {
        Impl::Call call(*d_);
        if (effect == static_cast<int>(Effect::Starts)) d_->begin_start();
        auto result = routine(*d_->control);
        ok = result.ok();
        if (!ok) {
            d_->last = result.error();
            d_->failure(d_->last);
        }
    }
    if (!alive) return ok;  // deleted by a handler of its own signals
    return finish(method, ok);
}

bool VideoCntlWidget::fileOpen() {
    return call("fileOpen", static_cast<int>(Effect::Starts),
                [](VideoCntl& c) { return c.fileOpen(); });
}
bool VideoCntlWidget::InitAudio() {
    return call("InitAudio", static_cast<int>(Effect::Starts),
                [](VideoCntl& c) { return c.InitAudio(); });
}
bool VideoCntlWidget::InitVideo() {
    return call("InitVideo", static_cast<int>(Effect::Starts),
                [](VideoCntl& c) { return c.InitVideo(); });
}
bool VideoCntlWidget::StopPlay() {
    return call("StopPlay", static_cast<int>(Effect::Stops),
                [](VideoCntl& c) { return c.StopPlay(); });
}
bool VideoCntlWidget::Preview() {
    return call("Preview", static_cast<int>(Effect::Starts),
                [](VideoCntl& c) { return c.Preview(); });
}
bool VideoCntlWidget::Pause() {
    return call("Pause", static_cast<int>(Effect::Other), [](VideoCntl& c) { return c.Pause(); });
}
bool VideoCntlWidget::Start() {
    return call("Start", static_cast<int>(Effect::Other), [](VideoCntl& c) { return c.Start(); });
}
bool VideoCntlWidget::playFromPart(int part) {
    return call("playFromPart", static_cast<int>(Effect::Starts),
                [part](VideoCntl& c) { return c.fileOpenAt(part); });
}
bool VideoCntlWidget::repeatPart(int part, int times) {
    return call("repeatPart", static_cast<int>(Effect::Starts),
                [part, times](VideoCntl& c) { return c.fileOpenAt(part, times); });
}

qreal VideoCntlWidget::playbackRate() const { return d_->rate; }
bool VideoCntlWidget::mirrored() const { return d_->picture1->mirrored(); }

void VideoCntlWidget::setMirrored(bool mirrored) {
    if (mirrored == d_->picture1->mirrored()) return;
    d_->picture1->set_mirrored(mirrored);
    emit mirroredChanged(mirrored);
}

int VideoCntlWidget::repeatsLeft() const { return d_->control->repeats_left(); }

void VideoCntlWidget::setPlaybackRate(qreal rate) {
    if (!(rate >= mci::Interpreter::kMinRate && rate <= mci::Interpreter::kMaxRate)) {
        d_->last = {
            runtime_error::kInvalidArgument,
            "the playback rate " + QString::number(rate).toStdString() + " is outside 0.5 to 1.5"};
        (void)finish("setPlaybackRate", false);
        return;
    }
    if (rate == d_->rate) return;
    d_->rate = rate;
    if (d_->interpreter) {
        Impl::Call call(*d_);
        if (auto s = d_->interpreter->set_rate(rate); !s) d_->failure(VideoError, s.error());
    }
    emit playbackRateChanged(rate);
}

bool VideoCntlWidget::Ppreview() {
    return call("Ppreview", static_cast<int>(Effect::Starts),
                [](VideoCntl& c) { return c.Ppreview(); });
}

}  // namespace strovia
