#pragma once
// A routine: postures played one after another, with a rest between them
// that counts down and can be skipped or paused.

#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;

namespace strovia::player {

class Routine : public QObject {
    Q_OBJECT

public:
    enum class Phase { Off, Playing, Resting };

    explicit Routine(QObject* parent = nullptr);

    void set_rest_seconds(int seconds) { rest_seconds_ = seconds < 0 ? 0 : seconds; }
    int rest_seconds() const { return rest_seconds_; }

    // Asks for the first posture at once (posture_due).
    void start(const QStringList& postures);
    // The posture asked for has come to its end: rest, then ask for the
    // next, or finish after the last.
    void posture_ended();
    void skip_rest();
    void pause_rest();
    void resume_rest();
    void stop();

    Phase phase() const { return phase_; }
    bool active() const { return phase_ != Phase::Off; }
    bool rest_paused() const { return rest_paused_; }
    int index() const { return index_; }
    int count() const { return static_cast<int>(postures_.size()); }
    QString current() const;
    QString next() const;
    int seconds_left() const { return seconds_left_; }

    // The routine's length, its rests included, and what is left of it, in
    // ms, from each posture's total (`total_of`, -1 when not known) and what
    // is left of the posture now playing. -1 where not known.
    struct Time {
        qint64 total_ms = -1;
        qint64 left_ms = -1;
    };
    Time time(const std::function<qint64(const QString&)>& total_of, qint64 current_left_ms) const;

signals:
    void posture_due(const QString& name, int index, int count);
    // Each second of the rest, and once when it begins.
    void resting(int seconds_left);
    void finished();

private:
    void advance();

    QStringList postures_;
    int index_ = -1;
    int rest_seconds_ = 5;
    int seconds_left_ = 0;
    bool rest_paused_ = false;
    Phase phase_ = Phase::Off;
    QTimer* second_;
};

}  // namespace strovia::player
