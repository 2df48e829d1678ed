#pragma once
// Where the programme stands, drawn from the control's public state and
// progress: one box per segment (video) or picture (photo), the current one
// marked, "segment 2 of 4", the time elapsed, and whether the video waits
// for its narration.

#include <QElapsedTimer>
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

    // "segment 2 of 4 · 0:12 · waiting for the narration"; empty when
    // nothing plays.
    QString text() const { return text_; }
    // The same without the time, for a screen reader: it changes only when
    // the part or the state does.
    QString spoken() const { return spoken_; }
    // Where part `index` (0-based) is drawn, for a host or a test to look at.
    QRect part_rect(int index) const;

    static QColor done_colour() { return QColor(90, 150, 90); }
    static QColor current_colour() { return QColor(40, 110, 220); }
    static QColor to_come_colour() { return QColor(200, 200, 200); }

    QSize sizeHint() const override;

signals:
    void text_changed(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void on_state(VideoCntlWidget::State state);
    void refresh();
    QRect bar_rect() const;

    VideoCntlWidget* control_;
    QTimer* tick_;
    QElapsedTimer clock_;
    qint64 elapsed_before_ms_ = 0;  // time played before the last pause
    bool running_ = false;
    QString text_;
    QString spoken_;
};

}  // namespace strovia::player
