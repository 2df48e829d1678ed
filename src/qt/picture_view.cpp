#include "qt/picture_view.hpp"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace strovia::qt {
namespace {

// Only a scaled image with its bars covers the whole view; then Qt need not
// paint what lies behind it first.
void set_opaque(QWidget* view, bool opaque) { view->setAttribute(Qt::WA_OpaquePaintEvent, opaque); }

}  // namespace

PictureView::PictureView(QWidget* parent) : QLabel(parent) {}

void PictureView::set_image(QImage image) {
    epoch_.fetch_add(1, std::memory_order_acq_rel);
    put_image(std::move(image));
}

void PictureView::show_frame(QImage frame, std::uint64_t epoch) {
    if (epoch == frame_epoch()) put_image(std::move(frame));
}

void PictureView::put_image(QImage image) {
    // The next frame of a video lands where the last one did: the bars
    // stay as they are and only the picture is painted and handed on.
    const bool same_place = !image_.isNull() && image.size() == image_.size();
    image_ = std::move(image);
    reduced_ = {};
    set_opaque(this, scaled_ && !image_.isNull());
    if (same_place) {
        update(image_rect().toAlignedRect());
    } else {
        update();
    }
}

void PictureView::set_scaled(bool scaled) {
    if (scaled == scaled_) return;
    scaled_ = scaled;
    set_opaque(this, scaled_ && !image_.isNull());
    update();
}

void PictureView::set_mirrored(bool mirrored) {
    if (mirrored == mirrored_) return;
    mirrored_ = mirrored;
    update();
}

QRectF PictureView::image_rect() const {
    if (image_.isNull()) return {};
    if (!scaled_) return {QPointF(0, 0), image_.deviceIndependentSize()};
    const qreal dpr = devicePixelRatioF();
    const QSizeF area = QSizeF(size()) * dpr;
    const QSizeF fit = image_.size().toSizeF().scaled(area, Qt::KeepAspectRatio);
    const qreal w = std::round(fit.width());
    const qreal h = std::round(fit.height());
    const qreal x = std::floor((area.width() - w) / 2);
    const qreal y = std::floor((area.height() - h) / 2);
    return {x / dpr, y / dpr, w / dpr, h / dpr};
}

void PictureView::paintEvent(QPaintEvent* event) {
    if (image_.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRectF target = image_rect();
    if (scaled_) {
        // The bars only: the image covers the rest.
        const QRectF all = rect();
        const QRectF bars[] = {
            {0, 0, all.width(), target.top()},
            {0, target.bottom(), all.width(), all.height() - target.bottom()},
            {0, target.top(), target.left(), target.height()},
            {target.right(), target.top(), all.width() - target.right(), target.height()},
        };
        for (const QRectF& bar : bars) {
            if (!bar.isEmpty()) painter.fillRect(bar, Qt::black);
        }
        if (mirrored_) {
            painter.translate(target.left() + target.right(), 0);
            painter.scale(-1, 1);
        }
        // Filtering from 2 x 2 source pixels skips the others once the image
        // is reduced to less than half, and fine detail flickers: such an
        // image is averaged over all its pixels instead.
        const QSize device = (target.size() * devicePixelRatioF()).toSize();
        if (device.width() * 2 < image_.width() || device.height() * 2 < image_.height()) {
            if (reduced_from_ != image_.cacheKey() || reduced_.size() != device) {
                reduced_ = image_.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                reduced_.setDevicePixelRatio(devicePixelRatioF());
                reduced_from_ = image_.cacheKey();
            }
            painter.drawImage(target.topLeft(), reduced_);
            return;
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    } else if (mirrored_) {
        painter.translate(target.left() + target.right(), 0);
        painter.scale(-1, 1);
    }
    painter.drawImage(target, image_);
}

void show_image(QLabel* label, QImage image) {
    if (auto* view = qobject_cast<PictureView*>(label)) {
        view->set_image(std::move(image));
    } else if (image.isNull()) {
        label->setPixmap({});
    } else {
        label->setPixmap(QPixmap::fromImage(std::move(image)));
    }
}

}  // namespace strovia::qt
