#include "qt/qt_host.hpp"

#include <dlfcn.h>

#include <QApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QMessageBox>

#include <filesystem>

#include "platform/paths.hpp"
#include "qt/picture_view.hpp"

namespace strovia::qt {

QtTimer::QtTimer(std::function<void()> tick) : tick_(std::move(tick)) {
    // A 1 ms interval must really tick about every millisecond.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick_(); });
}

void QtTimer::arm() {
    if (!enabled_) {
        timer_.stop();
        return;
    }
    const int period = paced_fast() ? safety_ms_ : interval_;
    if (timer_.isActive() && timer_.interval() == period) return;
    timer_.start(period);
}

void QtTimer::set_enabled(bool on) {
    enabled_ = on;
    arm();
    if (on && paced_fast() && wake_) wake_();
    if (on_change) on_change();
}

void QtTimer::set_interval(int milliseconds) {
    interval_ = milliseconds;
    arm();
    if (on_change) on_change();
}

void QtTimer::pace(int safety_ms, std::function<void()> wake) {
    safety_ms_ = safety_ms;
    wake_ = std::move(wake);
    arm();
}

void QtTimer::tick_now() {
    if (enabled_ && paced_fast()) tick_();
}

QtPictureBox::QtPictureBox(QLabel* label, std::int64_t handle) : label_(label), handle_(handle) {
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_->setScaledContents(false);
}

Result<QImage> read_picture(const std::string& path) {
    const QString file = QString::fromStdString(platform::map_path(path));
    const QFileInfo info(file);
    if (!info.exists() || info.isDir()) {
        return Error{runtime_error::kFileNotFound, "File not found: " + path};
    }
    QImageReader reader(file);
    reader.setAutoTransform(false);
    // Decide by content, never by a name that may be wrong.
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        return Error{runtime_error::kInvalidPicture, "Invalid picture: " + path};
    }
    return image;
}

Status QtPictureBox::load_picture(const std::string& path) {
    auto image = read_picture(path);
    if (!image) return image.error();
    // Converted once here rather than at every paint.
    show_image(label_,
               image->convertToFormat(image->hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                               : QImage::Format_RGB32));
    if (on_picture) on_picture(path);
    return {};
}

void QtPictureBox::clear() {
    show_image(label_, {});
    label_->clear();
    if (on_picture) on_picture({});
}

QtHost::QtHost(QLabel* picture1, QLabel* picture2, std::int64_t picture1_handle,
               std::int64_t picture2_handle, HostCallbacks callbacks)
    : callbacks_(std::move(callbacks)),
      timer1_([this] {
          if (tick1_) tick1_();
      }),
      timer2_([this] {
          if (tick2_) tick2_();
      }),
      picture1_(picture1, picture1_handle),
      picture2_(picture2, picture2_handle) {}

void QtHost::bind_ticks(std::function<void()> timer1_tick, std::function<void()> timer2_tick) {
    tick1_ = std::move(timer1_tick);
    tick2_ = std::move(timer2_tick);
}

void QtHost::message_box(const std::string& text) {
    if (callbacks_.message_box) {
        callbacks_.message_box(text);
        return;
    }
    show_message_box(picture1_.label(), text);
}

void show_message_box(QWidget* over, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                    QString::fromStdString(text), QMessageBox::Ok, over ? over->window() : nullptr);
    box.setDefaultButton(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void QtHost::do_events() { QCoreApplication::processEvents(); }

std::string QtHost::library_folder() const { return library_folder_of_this_code(); }

void QtHost::property_changed(std::string_view name) {
    if (callbacks_.property_changed) callbacks_.property_changed(name);
}

void QtHost::raise_video_end() {
    if (callbacks_.video_end) callbacks_.video_end();
}

std::string library_folder_of_this_code() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&library_folder_of_this_code), &info) == 0 ||
        info.dli_fname == nullptr) {
        return ".";
    }
    std::error_code ec;
    auto file = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) file = info.dli_fname;
    std::string folder = file.parent_path().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace strovia::qt
