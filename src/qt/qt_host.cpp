#include "qt/qt_host.hpp"

#include <dlfcn.h>

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QMessageBox>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/paths.hpp"
#include "platform/regular_file.hpp"
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

namespace {

// The bytes a decoded picture of `size` takes at 32 bits a pixel.
double bytes_of(QSize size) { return 4.0 * size.width() * size.height(); }

// A reader's allocation limit in bytes; 0 when there is none.
double reader_limit() { return QImageReader::allocationLimit() * 1024.0 * 1024.0; }

}  // namespace

Result<QImage> read_picture(const std::string& path) {
    // Only a regular file is opened, and only once: a FIFO named like a
    // picture would block the reader for ever.
    // The user reads the file's path as this file system names it, not as
    // the control formed it from the folder and the catalogue.
    const std::string file_path = platform::map_path(path);
    auto opened = platform::RegularFile::open(file_path);
    if (!opened.ok()) {
        return Error{
            runtime_error::kFileNotFound,
            "File not found: " + (opened.problem() == platform::RegularFile::Problem::kMissing
                                      ? file_path
                                      : opened.why())};
    }
    QFile file;
    if (!file.open(opened.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        return Error{runtime_error::kFileNotFound, "File not found: " + file_path};
    }
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    // Decide by content, never by a name that may be wrong.
    reader.setDecideFormatFromContent(true);
    // A photograph larger than the reader's limit (a 6000 x 6000 JPEG is
    // 144 MB decoded) is decoded reduced, where its format can do that, to
    // half the limit: it is shown scaled to the control anyway. The
    // process-wide limit itself is left as the application set it.
    const QSize full = reader.size();
    const double limit = reader_limit();
    const bool too_large = full.isValid() && limit > 0 && bytes_of(full) > limit;
    const auto invalid = [&](const std::string& why) {
        return Error{runtime_error::kInvalidPicture, "Invalid picture: " + file_path + why};
    };
    if (too_large) {
        // Refused here rather than by the reader, which would also print.
        if (!reader.supportsOption(QImageIOHandler::ScaledSize)) {
            return invalid(" (" + std::to_string(full.width()) + " x " +
                           std::to_string(full.height()) + " pixels need " +
                           std::to_string(static_cast<long long>(bytes_of(full) / 1048576)) +
                           " MB, more than the picture reader's limit of " +
                           std::to_string(QImageReader::allocationLimit()) + " MB)");
        }
        const double factor = std::sqrt(limit / 2 / bytes_of(full));
        reader.setScaledSize(QSize(std::max(1, static_cast<int>(full.width() * factor)),
                                   std::max(1, static_cast<int>(full.height() * factor))));
    }
    QImage image = reader.read();
    if (image.isNull()) return invalid("");
    return image;
}

QImage unavailable_picture(const std::string& path, const Error& why) {
    // Large enough to read at the control's size, scaled like any picture.
    QImage image(352, 288, QImage::Format_RGB32);
    image.fill(QColor(48, 48, 48));
    QPainter painter(&image);
    painter.setPen(QColor(230, 230, 230));
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const QString title = why.number == runtime_error::kFileNotFound
                              ? QStringLiteral("Picture not found")
                              : QStringLiteral("Not a picture this control can show");
    QFont font = painter.font();
    font.setPixelSize(18);
    font.setBold(true);
    painter.setFont(font);
    const QRect area = image.rect().adjusted(16, 16, -16, -16);
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     title + "\n" + QString::fromStdString(name));
    font.setPixelSize(12);
    font.setBold(false);
    painter.setFont(font);
    painter.drawText(
        area, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap,
        QStringLiteral("Error %1: %2").arg(why.number).arg(QString::fromStdString(why.text)));
    return image;
}

Status QtPictureBox::load_picture(const std::string& path) {
    auto image = read_picture(path);
    if (!image) return image.error();
    // Converted once here rather than at every paint.
    label_->setToolTip({});
    show_image(label_,
               image->convertToFormat(image->hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                               : QImage::Format_RGB32));
    if (on_picture) on_picture(path);
    return {};
}

void QtPictureBox::clear() {
    show_image(label_, {});
    label_->clear();
    label_->setToolTip({});
    if (on_picture) on_picture({});
}

void QtPictureBox::show_unavailable(const std::string& path, const Error& why) {
    show_image(label_, unavailable_picture(path, why));
    // Said in words too, for whoever cannot read the picture.
    label_->setToolTip(
        QStringLiteral("Error %1: %2").arg(why.number).arg(QString::fromStdString(why.text)));
    // Not a picture of the course: told like a cleared box.
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
