#pragma once
// The course player's window: the control, the course's postures, and the
// transport buttons and keys.

#include <QMainWindow>
#include <QString>

class QLabel;
class QPushButton;
class QSettings;
class QTreeWidget;

namespace strovia {
class VideoCntlWidget;
}

namespace strovia::player {

class PlayerWindow : public QMainWindow {
    Q_OBJECT

public:
    // The control is restored from `settings` (the last course folder and
    // posture) and saved there again when the window closes.
    explicit PlayerWindow(QSettings& settings, QWidget* parent = nullptr);
    ~PlayerWindow() override;

    // Reads the course's postures and selects the first.
    void open_course(const QString& folder);
    bool select_posture(const QString& name);

    // The transport, as the buttons and keys call it.
    bool play();
    bool preview();
    bool pause();
    bool resume();
    bool stop();

    VideoCntlWidget* control() const { return control_; }
    QTreeWidget* postures() const { return list_; }
    QString status_text() const;
    // What is wrong with the course, when its catalogue cannot be read.
    QString problem_text() const;

signals:
    void programme_ended();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void choose_course();
    bool begin(bool as_preview);
    void say(const QString& text);

    QSettings& settings_;
    VideoCntlWidget* control_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* course_label_ = nullptr;
    QLabel* problem_label_ = nullptr;
    QLabel* status_label_ = nullptr;
    QString playing_;
    bool paused_ = false;
};

}  // namespace strovia::player
