#pragma once
// Where the programme stands, drawn from the control's public state and
// progress: one box per segment (video) or picture (photo), the current one
// marked, "segment 2 of 4", the time played of this programme, its total and
// what is left, and whether the video waits for its narration. A part's box
// is as wide as the part is long, once its length is known. While nothing
// plays it can show the programme a posture would play, with its total.

#include <QElapsedTimer>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <strovia/video_cntl_widget.hpp>

class QTimer;

namespace strovia::player {

class ProgressStrip : public QWidget {
    Q_OBJECT

public:
    explicit ProgressStrip(VideoCntlWidget* control, QWidget* parent = nullptr);

    // "segment 2 of 4 · 0:12 of 1:30 · 1:18 left · waiting for the
    // narration"; empty when nothing plays. A total not known is "—".
    QString text() const { return text_; }
    // The same without the time, for a screen reader: it changes only when
    // the part or the state does.
    QString spoken() const { return spoken_; }
    // Where part `index` (0-based) is drawn, for a host or a test to look at.
    QRect part_rect(int index) const;

    // A programme starts: its time counts from zero, with the lengths of its
    // parts in ms when they are known (empty when not).
    void restart(const QList<qint64>& part_ms = {});
    QList<qint64> part_lengths() const { return lengths_; }
    // The lengths of the running programme's parts came to be known.
    void set_part_lengths(const QList<qint64>& part_ms);
    qint64 elapsed_ms() const;
    // The programme shown as a whole and what is left of it, in ms; -1 when
    // not known.
    qint64 total_ms() const;
    qint64 left_ms() const;

    // What a posture would play, shown while no programme runs: "3 segments
    // · 0:00 of 0:04 · 0:04 left" and its boxes. Empty lengths show nothing.
    // The next programme that starts replaces it.
    void show_planned(const QList<qint64>& part_ms, bool photo);
    bool shows_planned() const { return planned_shown_; }

    static QColor done_colour() { return QColor(90, 150, 90); }
    static QColor current_colour() { return QColor(40, 110, 220); }
    static QColor to_come_colour() { return QColor(200, 200, 200); }

    QSize sizeHint() const override;

signals:
    void text_changed(const QString& text);
    // A programme played from its first part to its end, without a break
    // in between: how long each part took.
    void measured(const QList<qint64>& part_ms);
    // The box of part `part` (from 1) was clicked.
    void part_clicked(int part);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void on_state(VideoCntlWidget::State state);
    void on_progress(int current, int count);
    void refresh();
    QRect bar_rect() const;
    int shown_count() const;
    const QList<qint64>& shown_lengths() const { return planned_shown_ ? planned_ : lengths_; }

    VideoCntlWidget* control_;
    QTimer* tick_;
    QElapsedTimer clock_;
    qint64 elapsed_before_ms_ = 0;  // time played before the last pause
    bool running_ = false;
    VideoCntlWidget::State last_state_ = VideoCntlWidget::Idle;
    QList<qint64> lengths_;  // known lengths of the parts, or empty
    QList<qint64> seen_;     // where each part ended, as this programme plays
    QList<qint64> planned_;  // the parts of the programme shown before it plays
    bool planned_photo_ = false;
    bool planned_shown_ = false;
    int last_part_ = 0;
    bool whole_ = false;  // played from its first part without a break
    QString text_;
    QString spoken_;
};

}  // namespace strovia::player
