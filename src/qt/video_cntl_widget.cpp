#include "strovia/video_cntl_widget.hpp"

#include <QLabel>
#include <QMetaMethod>
#include <QResizeEvent>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <deque>

#include "control/video_cntl.hpp"
#include "jet/engine.hpp"
#include "mci/interpreter.hpp"
#include "qt/label_frame_target.hpp"
#include "qt/picture_view.hpp"
#include "qt/qt_host.hpp"
#include "qt/settings_store.hpp"

namespace strovia {
namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kNoticeMilliseconds = 6000;

// One catalogue engine for every control of the library.
EngineHolder& library_engines() {
    static EngineHolder holder(jet::make_engine);
    return holder;
}

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

}  // namespace

struct VideoCntlWidget::Impl final : mci::Reporter {
    VideoCntlWidget* self;
    qt::PictureView* picture1;
    QLabel* picture2;
    QLabel* notice_label;
    QTimer notice_timer;
    std::int64_t handle1 = next_handle();
    std::int64_t handle2 = next_handle();
    Error last;

    // Destroyed in reverse order: the control goes first, then the frame
    // target is unregistered, then the devices close with the interpreter.
    std::unique_ptr<mci::Interpreter> interpreter;
    std::unique_ptr<UnavailableChannel> unavailable;
    std::unique_ptr<qt::LabelFrameTarget> target;
    std::unique_ptr<qt::QtHost> host;
    std::unique_ptr<VideoCntl> control;

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
        MediaChannel* channel = nullptr;
        if (made) {
            interpreter = std::move(made).value();
            interpreter->set_reporter(this);
            target = std::make_unique<qt::LabelFrameTarget>(picture1);
            interpreter->register_frame_target(handle1, target.get());
            channel = interpreter.get();
        } else {
            unavailable = std::make_unique<UnavailableChannel>(made.error(), *this);
            channel = unavailable.get();
        }

        host = std::make_unique<qt::QtHost>(
            picture1, picture2, handle1, handle2,
            qt::HostCallbacks{[this](std::string_view name) { property_changed(name); },
                              // Delivered once the tick that ends the programme has
                              // returned, so that a handler may start the next
                              // programme or delete the control.
                              [this] {
                                  QMetaObject::invokeMethod(
                                      self, [w = self] { emit w->VideoEnd(); },
                                      Qt::QueuedConnection);
                              },
                              {}});
        control = std::make_unique<VideoCntl>(*host, *channel, library_engines());
        host->bind_ticks([this] { control->Timer1_Timer(); }, [this] { control->Timer2_Timer(); });
    }

    ~Impl() override {
        control.reset();
        host.reset();
        if (interpreter && target) interpreter->unregister_frame_target(handle1);
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
    void report(std::string_view command, const Error& error) override {
        const QString text =
            QString("The media command \"%1\" failed: error %2: %3")
                .arg(QString::fromUtf8(command.data(), static_cast<qsizetype>(command.size())))
                .arg(error.number)
                .arg(q(error.text));
        QMetaObject::invokeMethod(
            self, [this, text] { show_notice(text); }, Qt::QueuedConnection);
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
        d_->last = Error{static_cast<std::int32_t>(0x80020003), "Member not found."};
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
    auto r = d_->control->invoke(dispid, static_cast<InvokeKind>(kind), in);
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

bool VideoCntlWidget::finish(const char* method, bool ok) {
    if (ok) {
        d_->last = {};
        return true;
    }
    emit failed(QString::fromLatin1(method), d_->last.number, q(d_->last.text));
    return false;
}

namespace {
template <typename R>
bool take(R&& result, Error& last) {
    if (result) return true;
    last = result.error();
    return false;
}
}  // namespace

bool VideoCntlWidget::fileOpen() {
    return finish("fileOpen", take(d_->control->fileOpen(), d_->last));
}
bool VideoCntlWidget::InitAudio() {
    return finish("InitAudio", take(d_->control->InitAudio(), d_->last));
}
bool VideoCntlWidget::InitVideo() {
    return finish("InitVideo", take(d_->control->InitVideo(), d_->last));
}
bool VideoCntlWidget::StopPlay() {
    return finish("StopPlay", take(d_->control->StopPlay(), d_->last));
}
bool VideoCntlWidget::Preview() {
    return finish("Preview", take(d_->control->Preview(), d_->last));
}
bool VideoCntlWidget::Pause() { return finish("Pause", take(d_->control->Pause(), d_->last)); }
bool VideoCntlWidget::Start() { return finish("Start", take(d_->control->Start(), d_->last)); }
bool VideoCntlWidget::Ppreview() {
    return finish("Ppreview", take(d_->control->Ppreview(), d_->last));
}

}  // namespace strovia
