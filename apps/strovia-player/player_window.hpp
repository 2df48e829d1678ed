#pragma once
// The course player's window: the control, where the programme stands, the
// course's postures and routines, and the transport buttons and keys.

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

#include <strovia/video_cntl_widget.hpp>

class QAction;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QSettings;
class QTimer;
class QTreeWidget;

namespace strovia::player {

class ProgressStrip;
class Routine;

class PlayerWindow : public QMainWindow {
    Q_OBJECT

public:
    // The control is restored from `settings` (the last course folder and
    // posture), with the player's routines and last state. Each change is
    // written there as it happens, so a killed player loses nothing.
    explicit PlayerWindow(QSettings& settings, QWidget* parent = nullptr);
    ~PlayerWindow() override;

    // Reads the course's postures and selects the first. A folder that
    // holds no course is said in plain words and does not replace the
    // course that was open.
    bool open_course(const QString& folder);
    bool select_posture(const QString& name);

    // The transport, as the buttons and keys call it. Pause, resume and
    // stop act on the routine when one runs.
    bool play();
    bool preview();
    bool pause();
    bool resume();
    bool stop();

    // Routines: every posture in catalogue order, or the composed list.
    bool play_all();
    bool play_routine();
    bool play_routine(const QStringList& postures);
    void skip_rest();
    void set_rest_seconds(int seconds);
    // The routine being composed, and saving and loading it by name.
    QStringList composed_routine() const;
    void set_composed_routine(const QStringList& postures);
    bool save_routine(const QString& name);
    bool load_routine(const QString& name);
    QStringList saved_routines() const;

    // The learner's choice, remembered for the next start unless
    // `remember` is false (a one-off from the command line).
    void set_full_screen(bool on, bool remember = true);
    bool full_screen() const { return full_screen_; }
    // About two thirds of the screen, centred.
    void place_on_screen();
    // Whether the window was in full screen when it last closed.
    bool remembered_full_screen() const;
    void show_help(bool on);

    // Practice. The speed steps by a quarter from 0.5 to 1.5 ("0.75x");
    // again plays the current video segment from its first frame twice,
    // then goes on; a segment's box in the strip starts the posture there;
    // the mirror flips the picture (remembered); and each course keeps the
    // video posture and segment the learner was at until it ends, to go on
    // from there.
    bool slower();
    bool faster();
    QString rate_text() const;
    bool repeat_segment();
    bool play_from_part(int part);
    void set_mirrored(bool on);
    bool continue_where_stopped();
    // The posture and segment continue_where_stopped() would start; empty
    // and 0 when there is none.
    QPair<QString, int> resume_point() const;

    VideoCntlWidget* control() const { return control_; }
    QTreeWidget* postures() const { return list_; }
    ProgressStrip* progress() const { return strip_; }
    Routine* routine() const { return routine_; }
    QString status_text() const;
    // What went wrong, in plain words, and its number apart.
    QString problem_text() const;
    QString problem_details() const;
    // The parent folder offered when the user picked video/.
    QString suggested_folder() const { return suggested_; }
    // What the control area shows while nothing plays or during a rest.
    QString idle_text() const;
    // The line under the picture in full screen.
    QString full_screen_status() const;
    QLabel* help() const { return help_; }
    // The passing message of the status bar ("Routine morning saved").
    QString said() const;
    // 0 when the last posture or routine played something to its end, 1
    // when nothing of it could play.
    int exit_status() const { return played_to_end_ ? 0 : 1; }
    QPushButton* button(const QString& name) const { return buttons_.value(name); }
    QList<QPushButton*> all_buttons() const { return buttons_.values(); }

signals:
    // A single posture, or the routine's last, has come to its end, or it
    // could not start (then exit_status() is 1).
    void programme_ended();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPushButton* add_button(QWidget* parent, const QString& name, const QString& label,
                            const QString& tip, const QList<QKeySequence>& keys,
                            const std::function<void()>& slot);
    void choose_course();
    bool begin(bool as_preview, int part = 1, int times = 1);
    void add_practice(QHBoxLayout* row);
    void update_practice();
    bool step_rate(int by);
    bool handle_key(QKeyEvent* key, QWidget* focus);
    void toggle_pause();
    void move_selection(int by);
    void check_start();
    // check_start after the events queued now, unless another start came first.
    void check_start_soon();
    void remember();
    QString course_key() const;
    QList<qint64> lengths_of(const QString& posture) const;
    void save_lengths(const QList<qint64>& ms);
    // Timelines of the course's postures, worked out off the user-interface
    // thread on first need; what the strip and the routine's time show.
    void want_timelines(const QStringList& postures);
    void timeline_known(const QString& posture, const QList<qint64>& part_ms);
    void show_selected_time();
    QString routine_time() const;
    void place_help();
    void set_order();
    QString next_in_list() const;
    void start_due(const QString& name, int index, int count);
    void show_problem(const QString& headline, const QString& details,
                      const QString& suggestion = {});
    void clear_problem();
    void update_status();
    void update_buttons();
    void update_idle();
    void show_chrome();
    void refresh_saved_routines();
    bool in_name_box(const QWidget* w) const;
    // Gives the keys back to where they were before the name box took
    // them; `cancel` puts back the name it had then.
    void leave_name_box(bool cancel);
    // A start that played nothing: said in the control area too.
    void note_failed_start(const QString& posture);

    QSettings& settings_;
    VideoCntlWidget* control_ = nullptr;
    QLabel* idle_ = nullptr;
    ProgressStrip* strip_ = nullptr;
    QWidget* chrome_ = nullptr;
    QWidget* side_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QListWidget* routine_list_ = nullptr;
    QComboBox* routine_name_ = nullptr;
    QLabel* course_label_ = nullptr;
    QLabel* problem_label_ = nullptr;
    QLabel* details_label_ = nullptr;
    QLabel* status_label_ = nullptr;
    QLabel* help_ = nullptr;
    QLabel* big_status_ = nullptr;
    QLabel* rate_label_ = nullptr;
    QTimer* hide_chrome_ = nullptr;
    Routine* routine_ = nullptr;
    QMap<QString, QPushButton*> buttons_;
    QMap<QString, QAction*> actions_;
    QString course_name_;
    QString suggested_;
    QString playing_;
    QString playing_kind_;
    bool course_open_ = false;
    bool routine_done_ = false;
    bool full_screen_ = false;
    bool single_running_ = false;
    bool played_to_end_ = false;
    int due_index_ = -1;
    int starts_ = 0;
    QString course_folder_;
    QMap<QString, QList<qint64>> timelines_;  // by posture; empty when it cannot be known
    int timeline_course_ = 0;                 // counts course openings: late answers are dropped
    QFont chrome_font_;
    QRect normal_geometry_;
    bool was_maximized_ = false;
    QMetaObject::Connection focus_watch_;
    QPointer<QWidget> back_from_name_;
    QPointer<QWidget> focus_before_full_;
    QString name_before_;
    QString failed_posture_;
    QString failed_what_;
};

}  // namespace strovia::player
