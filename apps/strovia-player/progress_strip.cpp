#include "progress_strip.hpp"

#include <algorithm>

#include <QFontMetrics>
#include <QPainter>
#include <QTimer>

namespace strovia::player {

using W = VideoCntlWidget;

ProgressStrip::ProgressStrip(VideoCntlWidget* control, QWidget* parent)
    : QWidget(parent), control_(control), tick_(new QTimer(this)) {
    setAccessibleName("Progress");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    tick_->setInterval(250);
    connect(tick_, &QTimer::timeout, this, &ProgressStrip::refresh);
    connect(control_, &W::stateChanged, this, &ProgressStrip::on_state);
    connect(control_, &W::progressChanged, this, &ProgressStrip::refresh);
    on_state(control_->state());
}

void ProgressStrip::on_state(W::State state) {
    const bool runs = state == W::Playing || state == W::Held || state == W::Previewing;
    if (runs && !running_) {
        // A programme that starts afresh counts from zero; one that resumes
        // after a pause goes on from where it stood.
        if (control_->programmeKind() == W::None || !clock_.isValid()) elapsed_before_ms_ = 0;
        clock_.start();
        running_ = true;
        tick_->start();
    } else if (!runs && running_) {
        elapsed_before_ms_ += clock_.elapsed();
        running_ = false;
        tick_->stop();
    }
    if (state == W::Idle) {
        elapsed_before_ms_ = 0;
        clock_.invalidate();
    }
    refresh();
}

void ProgressStrip::refresh() {
    const W::State state = control_->state();
    const int count = control_->partCount();
    QString text;
    QString spoken;
    if (count > 0 && state != W::Idle) {
        const bool photo =
            control_->programmeKind() == W::Photo || control_->programmeKind() == W::PhotoPreview;
        const qint64 seconds = (elapsed_before_ms_ + (running_ ? clock_.elapsed() : 0)) / 1000;
        const QString part = QString("%1 %2 of %3")
                                 .arg(photo ? "picture" : "segment")
                                 .arg(control_->currentPart())
                                 .arg(count);
        const QString time =
            QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
        const char* what = state == W::Held     ? "waiting for the narration"
                           : state == W::Paused ? "paused"
                           : state == W::Ended  ? "ended"
                                                : nullptr;
        text = part + " · " + time;
        spoken = part;
        if (what != nullptr) {
            text += QString(" · ") + what;
            spoken += QString(", ") + what;
        }
    }
    if (spoken != spoken_) {
        spoken_ = spoken;
        setAccessibleDescription(spoken_.isEmpty() ? QString("Nothing plays") : spoken_);
    }
    if (text != text_) {
        text_ = text;
        emit text_changed(text_);
    }
    update();
}

QSize ProgressStrip::sizeHint() const { return {352, fontMetrics().height() + 22}; }

QRect ProgressStrip::bar_rect() const { return QRect(0, fontMetrics().height() + 6, width(), 14); }

QRect ProgressStrip::part_rect(int index) const {
    const int count = control_->partCount();
    if (count <= 0 || index < 0 || index >= count) return {};
    const QRect bar = bar_rect();
    const int gap = count > 1 ? 3 : 0;
    const int left = bar.left() + index * bar.width() / count;
    const int right = bar.left() + (index + 1) * bar.width() / count - gap;
    return QRect(left, bar.top(), std::max(1, right - left), bar.height());
}

void ProgressStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, 0, width(), fontMetrics().height() + 4),
                     Qt::AlignLeft | Qt::AlignVCenter, text_);
    const int count = control_->partCount();
    const int current = control_->currentPart() - 1;
    const bool ended = control_->state() == W::Ended;
    for (int i = 0; i < count && control_->state() != W::Idle; ++i) {
        const QColor fill = (i < current || ended) ? done_colour()
                            : i == current         ? current_colour()
                                                   : to_come_colour();
        painter.fillRect(part_rect(i), fill);
    }
}

}  // namespace strovia::player
