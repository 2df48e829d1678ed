#include "progress_strip.hpp"

#include <algorithm>

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace strovia::player {

using W = VideoCntlWidget;

namespace {

bool runs(W::State s) { return s == W::Playing || s == W::Held || s == W::Previewing; }

qint64 sum(const QList<qint64>& ms) {
    qint64 total = 0;
    for (qint64 one : ms) total += one;
    return total;
}

QString clock_text(qint64 ms) {
    const qint64 seconds = ms / 1000;
    return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

}  // namespace

ProgressStrip::ProgressStrip(VideoCntlWidget* control, QWidget* parent)
    : QWidget(parent), control_(control), tick_(new QTimer(this)) {
    setAccessibleName("Progress");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    tick_->setInterval(250);
    connect(tick_, &QTimer::timeout, this, &ProgressStrip::refresh);
    connect(control_, &W::stateChanged, this, &ProgressStrip::on_state);
    connect(control_, &W::progressChanged, this, &ProgressStrip::on_progress);
    on_state(control_->state());
}

qint64 ProgressStrip::elapsed_ms() const {
    return elapsed_before_ms_ + (running_ && clock_.isValid() ? clock_.elapsed() : 0);
}

void ProgressStrip::set_part_lengths(const QList<qint64>& part_ms) {
    lengths_ = part_ms;
    refresh();
}

void ProgressStrip::show_planned(const QList<qint64>& part_ms, bool photo) {
    planned_ = part_ms;
    planned_photo_ = photo;
    const W::State state = control_->state();
    planned_shown_ = !part_ms.isEmpty() && (state == W::Idle || state == W::Ended);
    refresh();
}

qint64 ProgressStrip::total_ms() const {
    const QList<qint64>& ms = shown_lengths();
    if (ms.isEmpty() || ms.size() != shown_count()) return -1;
    return sum(ms);
}

qint64 ProgressStrip::left_ms() const {
    const qint64 total = total_ms();
    if (total < 0) return -1;
    if (planned_shown_) return total;
    if (control_->state() == W::Ended) return 0;
    // The clock is held within the part the control is in: it cannot run
    // ahead of a held video, nor lag behind a part that has begun.
    const int current = control_->currentPart();
    qint64 played = elapsed_ms();
    if (current >= 1 && current <= lengths_.size()) {
        const qint64 from = sum(lengths_.mid(0, current - 1));
        played = std::clamp(played, from, from + lengths_[current - 1]);
    }
    return std::max<qint64>(0, total - played);
}

int ProgressStrip::shown_count() const {
    if (planned_shown_) return static_cast<int>(planned_.size());
    return control_->state() == W::Idle ? 0 : control_->partCount();
}

void ProgressStrip::restart(const QList<qint64>& part_ms) {
    elapsed_before_ms_ = 0;
    if (running_) {
        clock_.start();
    } else {
        clock_.invalidate();
    }
    lengths_ = part_ms;
    planned_shown_ = false;
    seen_.clear();
    last_part_ = control_->currentPart();
    whole_ = last_part_ <= 1;
    refresh();
}

void ProgressStrip::on_state(W::State state) {
    if (runs(state) && !running_) {
        // From nothing or from an end, a programme starts afresh and counts
        // from zero; after a pause it goes on from where it stood.
        if (last_state_ == W::Idle || last_state_ == W::Ended) {
            planned_shown_ = false;
            elapsed_before_ms_ = 0;
            seen_.clear();
            last_part_ = control_->currentPart();
            whole_ = last_part_ <= 1;
        }
        clock_.start();
        running_ = true;
        tick_->start();
    } else if (!runs(state) && running_) {
        elapsed_before_ms_ += clock_.elapsed();
        running_ = false;
        tick_->stop();
    }
    if (state == W::Ended && whole_ && control_->partCount() > 0 &&
        last_part_ == control_->partCount() && seen_.size() + 1 == control_->partCount() &&
        (control_->programmeKind() == W::Video || control_->programmeKind() == W::Photo)) {
        seen_.append(elapsed_ms());
        QList<qint64> parts;
        qint64 before = 0;
        for (qint64 end : seen_) {
            parts.append(end - before);
            before = end;
        }
        whole_ = false;
        emit measured(parts);
    }
    if (state == W::Idle) {
        elapsed_before_ms_ = 0;
        clock_.invalidate();
        whole_ = false;
        lengths_.clear();
    }
    last_state_ = state;
    refresh();
}

void ProgressStrip::on_progress(int current, int) {
    if (current == last_part_ + 1 && whole_) {
        seen_.append(elapsed_ms());
    } else if (current != last_part_) {
        whole_ = false;
    }
    last_part_ = current;
    refresh();
}

void ProgressStrip::refresh() {
    const W::State state = control_->state();
    const int count = control_->partCount();
    QString text;
    QString spoken;
    if (planned_shown_) {
        const qint64 total = sum(planned_);
        const auto n = planned_.size();
        text = QString("%1 %2%3 · 0:00 of %4 · %4 left")
                   .arg(n)
                   .arg(planned_photo_ ? "picture" : "segment")
                   .arg(n == 1 ? "" : "s")
                   .arg(clock_text(total));
    } else if (count > 0 && state != W::Idle) {
        const bool photo =
            control_->programmeKind() == W::Photo || control_->programmeKind() == W::PhotoPreview;
        const QString part = QString("%1 %2 of %3")
                                 .arg(photo ? "picture" : "segment")
                                 .arg(control_->currentPart())
                                 .arg(count);
        QString time = clock_text(elapsed_ms()) + " of ";
        if (const qint64 total = total_ms(); total >= 0) {
            time += clock_text(total) + " · " + clock_text(left_ms()) + " left";
        } else {
            time += QString::fromUtf8("— · — left");
        }
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

QSize ProgressStrip::sizeHint() const {
    return {352, fontMetrics().height() + 10 + fontMetrics().height() / 2 + 8};
}

QRect ProgressStrip::bar_rect() const {
    return QRect(0, fontMetrics().height() + 6, width(),
                 std::max(14, fontMetrics().height() / 2 + 4));
}

QRect ProgressStrip::part_rect(int index) const {
    const int count = shown_count();
    if (count <= 0 || index < 0 || index >= count) return {};
    const QRect bar = bar_rect();
    const int gap = count > 1 ? 3 : 0;
    const QList<qint64>& lengths = shown_lengths();
    const qint64 total = sum(lengths);
    int left = 0;
    int right = 0;
    if (lengths.size() == count && total > 0) {
        const qint64 before = sum(lengths.mid(0, index));
        left = bar.left() + static_cast<int>(before * bar.width() / total);
        right =
            bar.left() + static_cast<int>((before + lengths[index]) * bar.width() / total) - gap;
    } else {
        left = bar.left() + index * bar.width() / count;
        right = bar.left() + (index + 1) * bar.width() / count - gap;
    }
    return QRect(left, bar.top(), std::max(2, right - left), bar.height());
}

void ProgressStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, 0, width(), fontMetrics().height() + 4),
                     Qt::AlignLeft | Qt::AlignVCenter, text_);
    const int count = shown_count();
    const int current = planned_shown_ ? -1 : control_->currentPart() - 1;
    const bool ended = !planned_shown_ && control_->state() == W::Ended;
    for (int i = 0; i < count; ++i) {
        const QColor fill = (i < current || ended) ? done_colour()
                            : i == current         ? current_colour()
                                                   : to_come_colour();
        painter.fillRect(part_rect(i), fill);
    }
}

void ProgressStrip::mousePressEvent(QMouseEvent* event) {
    // The boxes clicked are those shown: the programme's, or the planned
    // ones of the posture chosen since.
    if (event->button() == Qt::LeftButton && (planned_shown_ || control_->state() != W::Idle)) {
        for (int i = 0; i < shown_count(); ++i) {
            if (part_rect(i).contains(event->position().toPoint())) {
                emit part_clicked(i + 1);
                return;
            }
        }
    }
    QWidget::mousePressEvent(event);
}

}  // namespace strovia::player
