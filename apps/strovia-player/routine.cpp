#include "routine.hpp"

#include <QTimer>

namespace strovia::player {

Routine::Routine(QObject* parent) : QObject(parent), second_(new QTimer(this)) {
    second_->setInterval(1000);
    connect(second_, &QTimer::timeout, this, [this] {
        if (--seconds_left_ <= 0) {
            advance();
        } else {
            emit resting(seconds_left_);
        }
    });
}

QString Routine::current() const {
    return index_ >= 0 && index_ < count() ? postures_[index_] : QString();
}

QString Routine::next() const { return index_ + 1 < count() ? postures_[index_ + 1] : QString(); }

Routine::Time Routine::time(const std::function<qint64(const QString&)>& total_of,
                            qint64 current_left_ms) const {
    Time out;
    if (!active()) return out;
    const qint64 rest = rest_seconds_ * 1000LL;
    QList<qint64> each;
    qint64 total = rest * (count() - 1);
    for (const QString& p : postures_) {
        const qint64 t = total_of(p);
        if (t < 0) return out;
        each.append(t);
        total += t;
    }
    out.total_ms = total;
    // Every posture after the current one comes after a rest; while resting,
    // what is left of this rest stands for the rest before the next.
    qint64 left = 0;
    for (int i = index_ + 1; i < count(); ++i) left += rest + each[i];
    if (phase_ == Phase::Resting) {
        out.left_ms = left - rest + seconds_left_ * 1000LL;
    } else if (current_left_ms >= 0) {
        out.left_ms = left + current_left_ms;
    }
    return out;
}

void Routine::start(const QStringList& postures) {
    stop();
    if (postures.isEmpty()) return;
    postures_ = postures;
    index_ = -1;
    advance();
}

void Routine::posture_ended() {
    if (phase_ != Phase::Playing) return;
    if (index_ + 1 >= count()) {
        phase_ = Phase::Off;
        emit finished();
        return;
    }
    phase_ = Phase::Resting;
    rest_paused_ = false;
    seconds_left_ = rest_seconds_;
    if (seconds_left_ == 0) {
        // Still after the handler that reported the end has returned.
        QTimer::singleShot(0, this, [this] {
            if (phase_ == Phase::Resting) advance();
        });
        return;
    }
    second_->start();
    emit resting(seconds_left_);
}

void Routine::skip_rest() {
    if (phase_ == Phase::Resting) advance();
}

void Routine::pause_rest() {
    if (phase_ != Phase::Resting || rest_paused_) return;
    rest_paused_ = true;
    second_->stop();
    emit resting(seconds_left_);
}

void Routine::resume_rest() {
    if (phase_ != Phase::Resting || !rest_paused_) return;
    rest_paused_ = false;
    second_->start();
    emit resting(seconds_left_);
}

void Routine::stop() {
    second_->stop();
    phase_ = Phase::Off;
    rest_paused_ = false;
    seconds_left_ = 0;
}

void Routine::advance() {
    second_->stop();
    rest_paused_ = false;
    seconds_left_ = 0;
    ++index_;
    phase_ = Phase::Playing;
    emit posture_due(postures_[index_], index_, count());
}

}  // namespace strovia::player
