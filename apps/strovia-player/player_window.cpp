#include "player_window.hpp"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaEnum>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <strovia/course.hpp>

#include "progress_strip.hpp"
#include "routine.hpp"

namespace strovia::player {
namespace {

using W = VideoCntlWidget;

constexpr const char* kControlGroup = "control";
constexpr const char* kFullScreenKey = "player/fullScreen";
constexpr int kChromeIdleMs = 3000;

// A ring the eye finds from a distance: 3 px of dark blue on the light
// window, amber on the black of full screen.
constexpr const char* kFocusStyle =
    "QPushButton:focus, QTreeWidget:focus, QListWidget:focus, QComboBox:focus "
    "{ border: 3px solid #0a3c96; border-radius: 3px; }";
constexpr const char* kFullScreenStyle =
    "QWidget { background: black; color: white; } "
    "QPushButton { border: 2px solid #808080; padding: 0.2em 0.6em; } "
    "QPushButton:disabled { color: #808080; } "
    "QPushButton:focus { border: 3px solid #ffc800; }";

// What a learner reads when part of a posture fails; the device's own words
// and the number go on the details line.
QString learner_words(VideoCntlWidget::Error error) {
    switch (error) {
        case VideoCntlWidget::CatalogueError: return "The course's list of postures cannot be read";
        case VideoCntlWidget::TableError:
            return "The steps of this posture are missing from the course";
        case VideoCntlWidget::FieldError: return "This posture's entry in the course is damaged";
        case VideoCntlWidget::VideoError: return "The video of this posture cannot be played";
        case VideoCntlWidget::NarrationError:
            return "A spoken instruction cannot be played; the posture goes on without it";
        case VideoCntlWidget::PictureError: return "A picture of this posture cannot be shown";
        case VideoCntlWidget::PostureError: return "This posture is not in the course";
        case VideoCntlWidget::CallError:
            return "The player asked the control for something it cannot do";
        case VideoCntlWidget::NoError: break;
    }
    return "Something in this posture cannot be played";
}

// Where keys are letters of a text (an editable box has its line edit's
// focus).
bool is_text_entry(const QWidget* w) {
    if (qobject_cast<const QLineEdit*>(w) != nullptr) return true;
    const auto* box = qobject_cast<const QComboBox*>(w);
    return box != nullptr && box->isEditable();
}

// A path's end says the most: the label's full text is its tooltip.
void elide_path(QLabel* label) {
    label->setText(
        label->fontMetrics().elidedText(label->toolTip(), Qt::ElideLeft, label->width()));
}

QString key_names(const QList<QKeySequence>& keys) {
    QStringList names;
    for (const auto& k : keys) names << k.toString(QKeySequence::NativeText);
    return names.join(" or ");
}

}  // namespace

PlayerWindow::PlayerWindow(QSettings& settings, QWidget* parent)
    : QMainWindow(parent), settings_(settings), routine_(new Routine(this)) {
    setWindowTitle(QApplication::applicationName());
    setStyleSheet(kFocusStyle);
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    // The control with, under it, where the programme stands and the
    // transport; in full screen this column is all there is.
    auto* left = new QVBoxLayout;
    settings_.beginGroup(kControlGroup);
    control_ = new VideoCntlWidget(settings_, central);
    settings_.endGroup();
    control_->setMinimumSize(control_->sizeHint());
    control_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    control_->setAccessibleName("Posture");
    // A click on the picture takes the keys back for the player, from the
    // routine's name box too; Tab passes it by.
    control_->setFocusPolicy(Qt::ClickFocus);
    left->addWidget(control_, 1);
    idle_ = new QLabel(control_);
    idle_->setAlignment(Qt::AlignCenter);
    idle_->setWordWrap(true);
    idle_->setAttribute(Qt::WA_TransparentForMouseEvents);
    idle_->setStyleSheet("background: #1d2630; color: #f0f0f0; padding: 12px;");

    chrome_ = new QWidget(central);
    auto* chrome = new QVBoxLayout(chrome_);
    chrome->setContentsMargins(0, 0, 0, 0);
    // Three rows of buttons under the strip: kept tight so the picture keeps
    // two thirds of a small window's height.
    chrome->setSpacing(2);
    strip_ = new ProgressStrip(control_, chrome_);
    chrome->addWidget(strip_);
    auto* transport = new QHBoxLayout;
    auto* more = new QHBoxLayout;
    chrome->addLayout(transport);
    chrome->addLayout(more);
    left->addWidget(chrome_);
    // The picture takes most of the window; the course column what is left.
    columns->addLayout(left, 3);

    auto add = [&](QHBoxLayout* row, const QString& name, const QString& label, const QString& tip,
                   const QList<QKeySequence>& keys, const std::function<void()>& slot) {
        row->addWidget(add_button(chrome_, name, label, tip, keys, slot));
    };
    add(transport, "play", "Play", "Play the selected posture", {Qt::Key_Enter},
        [this] { play(); });
    add(transport, "preview", "Preview", "Preview the selected posture", {Qt::Key_V},
        [this] { preview(); });
    add(transport, "pause", "Pause", "Pause the posture or the rest", {Qt::Key_Space},
        [this] { pause(); });
    add(transport, "resume", "Resume", "Go on where it was paused", {Qt::Key_Space},
        [this] { resume(); });
    add(transport, "stop", "Stop", "Stop the posture and the routine", {Qt::Key_S},
        [this] { stop(); });
    add(more, "play_all", "Play all", "Play every posture of the course in order", {Qt::Key_A},
        [this] { play_all(); });
    add(more, "next", "Next now", "End the rest and play the next posture", {Qt::Key_N},
        [this] { skip_rest(); });
    add(more, "full_screen", "Full screen", "Full screen (Esc leaves it; double-click the picture)",
        {Qt::Key_F11}, [this] { set_full_screen(!full_screen_); });
    add(more, "help", "Keys", "Show the keys", {Qt::Key_F1},
        [this] { show_help(help_->isHidden()); });
    auto* practice = new QHBoxLayout;
    chrome->addLayout(practice);
    add_practice(practice);

    // The course, its postures and the routine being composed.
    side_ = new QWidget(central);
    auto* right = new QVBoxLayout(side_);
    right->setContentsMargins(0, 0, 0, 0);
    auto* course_row = new QHBoxLayout;
    course_label_ = new QLabel(side_);
    course_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    course_label_->setAccessibleName("Course folder");
    // A long path is elided, not a reason for a wider window.
    course_label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    course_label_->installEventFilter(this);
    course_row->addWidget(course_label_, 1);
    course_row->addWidget(
        add_button(side_, "course", "Course folder...", "Choose the course folder",
                   {QKeySequence(Qt::CTRL | Qt::Key_O)}, [this] { choose_course(); }));
    right->addLayout(course_row);
    problem_label_ = new QLabel(side_);
    problem_label_->setWordWrap(true);
    problem_label_->setStyleSheet("color: #b00000; font-weight: bold;");
    problem_label_->setAccessibleName("Problem");
    problem_label_->setMinimumWidth(1);  // a long file name wraps or is cut, the window stays
    problem_label_->hide();
    right->addWidget(problem_label_);
    details_label_ = new QLabel(side_);
    details_label_->setWordWrap(true);
    details_label_->setStyleSheet("color: #606060;");
    details_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details_label_->setAccessibleName("Problem details");
    details_label_->setMinimumWidth(1);
    details_label_->hide();
    right->addWidget(details_label_);
    auto* suggest = add_button(side_, "suggest", "Open the parent folder",
                               "Open the folder that holds the course", {}, [this] {
                                   const QString folder = suggested_;  // the opening clears it
                                   if (!folder.isEmpty()) open_course(folder);
                               });
    suggest->hide();
    right->addWidget(suggest);

    list_ = new QTreeWidget(side_);
    list_->setColumnCount(2);
    list_->setHeaderLabels({"Posture", "Kind"});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->setAccessibleName("Postures");
    list_->setAccessibleDescription("The course's postures; Enter plays the selected one");
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { play(); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] {
        update_buttons();
        show_selected_time();
        update_idle();  // full screen names the chosen posture: the list is out of sight
    });
    right->addWidget(list_, 2);

    auto* routine_row = new QHBoxLayout;
    auto* routine_caption = new QLabel("Routine:", side_);
    routine_name_ = new QComboBox(side_);
    routine_name_->setEditable(true);
    routine_name_->setInsertPolicy(QComboBox::NoInsert);  // Enter saves, see eventFilter
    routine_name_->setAccessibleName("Routine name");
    routine_name_->setToolTip(
        "The routine's name; choose a saved one to load it. Enter saves, Esc goes back");
    routine_name_->lineEdit()->setPlaceholderText("Type a name: Enter saves, Esc goes back");
    // Where the keys go back to when the name is done with.
    focus_watch_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (in_name_box(now) && !in_name_box(old)) {
                back_from_name_ = old;
                name_before_ = routine_name_->currentText();
            }
        });
    routine_caption->setBuddy(routine_name_);
    connect(routine_name_, &QComboBox::textActivated, this,
            [this](const QString& name) { load_routine(name); });
    connect(routine_name_, &QComboBox::editTextChanged, this, [this] { update_buttons(); });
    routine_row->addWidget(routine_caption);
    routine_row->addWidget(routine_name_, 1);
    right->addLayout(routine_row);
    routine_list_ = new QListWidget(side_);
    routine_list_->setAccessibleName("Routine");
    routine_list_->setAccessibleDescription("The postures of the routine, in the order they play");
    connect(routine_list_, &QListWidget::currentRowChanged, this, [this] { update_buttons(); });
    right->addWidget(routine_list_, 1);
    // In pairs, so that the column stays narrow: Add and Remove, Up and
    // Down, Save and Play routine.
    auto* edit_rows = new QGridLayout;
    auto edit = [&](const QString& name, const QString& label, const QString& tip,
                    const QList<QKeySequence>& keys, const std::function<void()>& slot) {
        const int at = edit_rows->count();
        edit_rows->addWidget(add_button(side_, name, label, tip, keys, slot), at / 2, at % 2);
    };
    edit("add", "Add", "Add the selected posture to the routine", {Qt::Key_Insert}, [this] {
        if (const auto* item = list_->currentItem()) {
            routine_list_->addItem(item->text(0));
            routine_list_->setCurrentRow(routine_list_->count() - 1);
        }
    });
    edit("remove", "Remove", "Remove the posture from the routine", {Qt::Key_Delete}, [this] {
        delete routine_list_->takeItem(routine_list_->currentRow());
        update_buttons();
    });
    auto move = [this](int by) {
        const int row = routine_list_->currentRow();
        if (row < 0 || row + by < 0 || row + by >= routine_list_->count()) return;
        routine_list_->insertItem(row + by, routine_list_->takeItem(row));
        routine_list_->setCurrentRow(row + by);
    };
    edit("up", "Up", "Move the posture earlier", {QKeySequence(Qt::CTRL | Qt::Key_Up)},
         [move] { move(-1); });
    edit("down", "Down", "Move the posture later", {QKeySequence(Qt::CTRL | Qt::Key_Down)},
         [move] { move(1); });
    edit("save", "Save", "Save the routine under its name", {QKeySequence(Qt::CTRL | Qt::Key_S)},
         [this] { save_routine(routine_name_->currentText()); });
    // Ctrl+S says what is missing rather than doing nothing.
    actions_["save"]->disconnect(this);
    connect(actions_["save"], &QAction::triggered, this,
            [this] { save_routine(routine_name_->currentText()); });
    edit("play_routine", "Play routine", "Play the routine's postures in order", {Qt::Key_R},
         [this] { play_routine(); });
    right->addLayout(edit_rows);
    columns->addWidget(side_, 1);

    big_status_ = new QLabel(chrome_);
    big_status_->setAccessibleName("Status");
    big_status_->setWordWrap(true);
    big_status_->hide();
    chrome->insertWidget(0, big_status_);

    status_label_ = new QLabel(this);
    status_label_->setAccessibleName("Status");
    statusBar()->addWidget(status_label_, 1);
    connect(statusBar(), &QStatusBar::messageChanged, this, [this] { update_status(); });
    setCentralWidget(central);

    help_ = new QLabel(central);
    help_->setWordWrap(false);
    help_->setAlignment(Qt::AlignCenter);
    help_->setAccessibleName("Keys");
    help_->setStyleSheet("background: rgba(20, 28, 36, 235); color: white; padding: 20px;");
    {
        QString rows;
        auto row = [&](const QString& keys, const QString& what) {
            rows += QString("<tr><td align=right><b>%1</b></td><td>&nbsp;&nbsp;%2</td></tr>")
                        .arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
        };
        row("Enter", "play the selected posture (on a focused button: press it)");
        row("Space", "pause or resume (the posture or the rest)");
        row("Up, Down", "choose the posture");
        for (const char* name : {"preview", "stop", "play_all", "next", "play_routine", "add",
                                 "remove", "up", "down", "save", "course"}) {
            const QAction* a = actions_.value(name);
            row(key_names(a->shortcuts()), a->statusTip());
        }
        row("-, +", "slower, faster (0.5x to 1.5x, the voice at its pitch)");
        row("G, M, C", "this segment again; mirror; continue where you stopped");
        row("F11, double-click", "full screen; Esc leaves it");
        row("Tab", "go from control to control");
        row("F1 or ?", "show or hide these keys");
        row("Ctrl+Q", "quit");
        help_->setText("<h3 align=center>Keys</h3><table align=center>" + rows + "</table>");
    }
    help_->hide();
    auto* quit = new QAction("Quit", this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);
    auto* help_key = new QAction(this);
    help_key->setShortcut(QKeySequence(Qt::Key_Question));
    connect(help_key, &QAction::triggered, this, [this] { show_help(help_->isHidden()); });
    addAction(help_key);

    // In full screen the controls come back on mouse movement or a key.
    hide_chrome_ = new QTimer(this);
    hide_chrome_->setSingleShot(true);
    hide_chrome_->setInterval(kChromeIdleMs);
    connect(hide_chrome_, &QTimer::timeout, this, [this] {
        if (!full_screen_) return;
        if (chrome_->underMouse())
            hide_chrome_->start();  // not while the pointer is on them
        else
            chrome_->hide();
    });
    for (QWidget* w : {static_cast<QWidget*>(control_), static_cast<QWidget*>(control_->picture1()),
                       static_cast<QWidget*>(control_->picture2()), central}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    qApp->installEventFilter(this);

    connect(control_, &W::stateChanged, this, [this](W::State s) {
        update_status();
        update_buttons();
        update_idle();
        if (s == W::Idle) {
            show_selected_time();
            check_start_soon();
        }
    });
    connect(strip_, &ProgressStrip::measured, this, &PlayerWindow::save_lengths);
    connect(control_, &W::progressChanged, this, [this] { update_status(); });
    connect(strip_, &ProgressStrip::text_changed, this, [this] { update_status(); });
    connect(control_, &W::VideoEnd, this, [this] {
        played_to_end_ = true;
        if (routine_->phase() == Routine::Phase::Playing) {
            routine_->posture_ended();
        } else if (!routine_->active() && single_running_) {
            single_running_ = false;
            emit programme_ended();
        }
        update_idle();
    });
    connect(control_, &W::notice, this, [this](const QString& text) {
        // A failed media command reaches us as the command itself: the
        // learner reads what it means, the command goes to the details.
        static const QRegularExpression raw(QStringLiteral("^The media command "));
        if (!raw.match(text).hasMatch()) {
            statusBar()->showMessage(text, 8000);
            return;
        }
        if (!problem_text().isEmpty()) return;  // errorOccurred has said it already
        // The command itself stays out of sight: its paths are formed as the
        // course names them, not as this file system does.
        static const QRegularExpression words(QStringLiteral("\" failed: (error -?\\d+: .*)$"),
                                              QRegularExpression::DotMatchesEverythingOption);
        const auto m = words.match(text);
        const QString headline = "A sound or picture of this posture cannot be played";
        show_problem(playing_.isEmpty() ? headline : playing_ + ": " + headline,
                     m.hasMatch() ? m.captured(1) : QString());
    });
    // Every failure, a failed call's too, arrives here once.
    connect(control_, &W::errorOccurred, this, [this](W::Error error, const QString& text) {
        QString headline = learner_words(error);
        if (!playing_.isEmpty()) headline = QString("%1: %2").arg(playing_, headline);
        show_problem(headline, QString("error %1: %2").arg(control_->errorNumber()).arg(text));
        update_status();
        check_start_soon();
    });
    // The unknown posture's message goes to the window, not a modal box.
    connect(control_, &W::messageRequested, this,
            [this](const QString& text) { show_problem(text, {}); });

    connect(routine_, &Routine::posture_due, this, &PlayerWindow::start_due);
    connect(routine_, &Routine::resting, this, [this] {
        update_status();
        update_buttons();
        update_idle();
    });
    connect(routine_, &Routine::finished, this, [this] {
        routine_done_ = true;
        update_status();
        update_buttons();
        emit programme_ended();
    });

    set_order();
    const QString saved = control_->Resourcedir();
    if (saved != "0" && !saved.isEmpty()) {
        const QString posture = control_->AsanaNaME();
        if (open_course(saved)) select_posture(posture);
    } else {
        course_label_->setToolTip("No course folder chosen");
        elide_path(course_label_);
    }
    update_status();
    update_buttons();
    update_idle();
    list_->setFocus();
}

PlayerWindow::~PlayerWindow() {
    // The children going down move the focus: no watcher of this window may run then.
    disconnect(focus_watch_);
    qApp->removeEventFilter(this);
}

void PlayerWindow::set_order() {
    // The keyboard goes the way the eye reads: the transport under the
    // picture, then the course column from top to bottom.
    QList<QWidget*> order;
    for (const char* name :
         {"play", "preview", "pause", "resume", "stop", "play_all", "next", "full_screen", "help",
          "slower", "faster", "again", "mirror", "continue", "course", "suggest"})
        order << buttons_[name];
    order << list_ << routine_name_ << routine_list_;
    for (const char* name : {"add", "remove", "up", "down", "save", "play_routine"})
        order << buttons_[name];
    for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void PlayerWindow::place_on_screen() {
    const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (where == nullptr) return;
    const QRect free = where->availableGeometry();
    const QSize size(free.width() * 2 / 3, free.height() * 2 / 3);
    resize(size.expandedTo(minimumSizeHint()));
    move(free.center() - QPoint(width() / 2, height() / 2));
}

QPushButton* PlayerWindow::add_button(QWidget* parent, const QString& name, const QString& label,
                                      const QString& tip, const QList<QKeySequence>& keys,
                                      const std::function<void()>& slot) {
    auto* b = new QPushButton(label, parent);
    const QString keys_text = key_names(keys);
    b->setToolTip(keys_text.isEmpty() ? tip : QString("%1 (%2)").arg(tip, keys_text));
    b->setAccessibleName(label);
    b->setAccessibleDescription(b->toolTip());
    // Enter on a focused button presses it rather than playing; Space is
    // the window's pause, whatever has focus. A click leaves the focus where
    // it was.
    b->setAutoDefault(true);
    b->setFocusPolicy(Qt::TabFocus);
    connect(b, &QPushButton::clicked, this, slot);
    // Enter and Space are the window's own keys (a focused button takes
    // them for itself); the others are shortcuts across the window.
    auto* action = new QAction(label, this);
    action->setStatusTip(tip.left(1).toLower() + tip.mid(1));
    if (!keys.isEmpty() && keys.first() != QKeySequence(Qt::Key_Enter) &&
        keys.first() != QKeySequence(Qt::Key_Space)) {
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, [b] {
            if (b->isEnabled()) b->click();
        });
        addAction(action);
    }
    actions_[name] = action;
    buttons_[name] = b;
    return b;
}

namespace {

// Names as settings keys: a slash or a backslash would open a group.
QString as_key(const QString& name) { return QString::fromLatin1(QUrl::toPercentEncoding(name)); }
QString from_key(const QString& key) { return QUrl::fromPercentEncoding(key.toLatin1()); }

}  // namespace

QString PlayerWindow::course_key() const {
    const QByteArray id =
        QCryptographicHash::hash(course_folder_.toUtf8(), QCryptographicHash::Sha1);
    return "courses/" + QString::fromLatin1(id.toHex().left(16));
}

void PlayerWindow::remember() {
    settings_.beginGroup(kControlGroup);
    const bool ok = control_->writeProperties(settings_);
    settings_.endGroup();
    settings_.sync();
    if (!ok) {
        show_problem("The settings could not be saved: " + control_->lastErrorText(),
                     QString("error %1").arg(control_->lastErrorNumber()));
    } else if (settings_.status() != QSettings::NoError) {
        show_problem("The settings could not be saved",
                     QString("error %1: %2 cannot be written")
                         .arg(static_cast<int>(settings_.status()))
                         .arg(settings_.fileName()));
    }
}

bool PlayerWindow::open_course(const QString& folder) {
    Course course;
    if (!course.open(folder)) {
        show_problem(course.errorString(), QString("error %1").arg(course.errorNumber()),
                     course.suggestedFolder());
        update_buttons();
        return false;
    }
    const QString key = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const bool other_course = key != course_folder_;
    if (other_course && (routine_->active() || control_->state() != W::Idle)) stop();
    clear_problem();
    // Remembered for the next start, which may run from another folder.
    control_->setResourcedir(key);
    course_open_ = true;
    if (key != course_folder_ || !timelines_.isEmpty()) {
        // The files may have changed since: measure again.
        timelines_.clear();
        ++timeline_course_;
    }
    course_folder_ = key;
    course_name_ = QDir(folder).dirName();
    course_label_->setToolTip(folder);
    elide_path(course_label_);
    list_->clear();
    for (const auto& p : course.postures()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, p.name);
        item->setText(1, p.fileOpen == Presentation::Video ? "video" : "photo");
    }
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    if (other_course) {
        // Routines belong to the course they were made on.
        settings_.setValue(course_key() + "/folder", course_folder_);
        routine_list_->clear();
        routine_name_->setCurrentText({});
        refresh_saved_routines();
        const QString last = settings_.value(course_key() + "/routine").toString();
        if (!last.isEmpty()) load_routine(last);
    }
    remember();
    update_status();
    update_buttons();
    update_idle();
    update_practice();
    return true;
}

bool PlayerWindow::select_posture(const QString& name) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        if (list_->topLevelItem(i)->text(0) == name) {
            list_->setCurrentItem(list_->topLevelItem(i));
            return true;
        }
    }
    return false;
}

QList<qint64> PlayerWindow::lengths_of(const QString& posture) const {
    QList<qint64> ms;
    if (!course_open_) return ms;
    // The programme's own timeline first; what a whole play measured when
    // it cannot be worked out.
    if (const auto t = timelines_.find(posture); t != timelines_.end() && !t->isEmpty()) return *t;
    const QStringList stored =
        settings_.value(course_key() + "/lengths/" + as_key(posture)).toStringList();
    for (const QString& one : stored) {
        bool ok = false;
        const qint64 v = one.toLongLong(&ok);
        if (!ok || v < 0) return {};
        ms << v;
    }
    return ms;
}

void PlayerWindow::want_timelines(const QStringList& postures) {
    QStringList wanted;
    for (const QString& p : postures) {
        if (!p.isEmpty() && !timelines_.contains(p) && !wanted.contains(p)) wanted << p;
    }
    if (!course_open_ || wanted.isEmpty()) return;
    Course course;
    if (!course.open(course_folder_)) return;
    const int asked_for = timeline_course_;
    for (const QString& posture : wanted) {
        timelines_.insert(posture, {});  // asked: not asked again while it is worked out
        course.timeline(posture, this, [this, posture, asked_for](const CourseTimeline& t) {
            if (asked_for == timeline_course_) timeline_known(posture, t.partLengths());
        });
    }
}

void PlayerWindow::timeline_known(const QString& posture, const QList<qint64>& part_ms) {
    timelines_.insert(posture, part_ms);
    if (part_ms.isEmpty()) return;
    if (posture == playing_ && control_->state() != W::Idle &&
        control_->programmeKind() != W::VideoPreview &&
        control_->programmeKind() != W::PhotoPreview && control_->partCount() == part_ms.size() &&
        strip_->part_lengths().isEmpty()) {
        strip_->set_part_lengths(part_ms);
    }
    show_selected_time();
    update_status();
}

void PlayerWindow::show_selected_time() {
    const auto* item = list_->currentItem();
    if (item == nullptr || !course_open_) {
        strip_->show_planned({}, false);
        return;
    }
    const QString name = item->text(0);
    want_timelines({name});
    // A programme that has ended stays on the strip until another posture
    // is chosen.
    const bool ended_here = control_->state() == W::Ended && name == playing_;
    strip_->show_planned(ended_here ? QList<qint64>() : timelines_.value(name),
                         item->text(1) == "photo");
}

QString PlayerWindow::routine_time() const {
    const Routine::Time t = routine_->time(
        [this](const QString& posture) {
            const QList<qint64> ms = lengths_of(posture);
            if (ms.isEmpty()) return qint64{-1};
            qint64 total = 0;
            for (qint64 one : ms) total += one;
            return total;
        },
        strip_->left_ms());
    if (t.total_ms < 0) return {};
    auto clock = [](qint64 ms) {
        const qint64 s = ms / 1000;
        return QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
    };
    return t.left_ms < 0
               ? QString("routine %1").arg(clock(t.total_ms))
               : QString("routine %1 of %2 left").arg(clock(t.left_ms), clock(t.total_ms));
}

void PlayerWindow::save_lengths(const QList<qint64>& ms) {
    if (!course_open_ || playing_.isEmpty()) return;
    QStringList stored;
    for (qint64 v : ms) stored << QString::number(v);
    settings_.setValue(course_key() + "/lengths/" + as_key(playing_), stored);
    settings_.sync();
}

bool PlayerWindow::begin(bool as_preview, int part, int times) {
    const auto* item = list_->currentItem();
    if (item == nullptr || !course_open_) {
        statusBar()->showMessage("Choose a course folder and a posture first", 5000);
        return false;
    }
    clear_problem();
    routine_done_ = false;
    playing_ = item->text(0);
    playing_kind_ = item->text(1);
    single_running_ = !routine_->active();
    want_timelines({playing_});
    ++starts_;  // the media's own yield runs checks queued before this start
    control_->setAsanaNaME(playing_);
    const bool ok = as_preview              ? control_->Preview()
                    : part > 1 || times > 1 ? control_->repeatPart(part, times)
                                            : control_->fileOpen();
    strip_->restart(as_preview ? QList<qint64>() : lengths_of(playing_));
    remember();
    update_status();
    update_buttons();
    update_idle();
    // A start that plays nothing never ends by itself.
    check_start_soon();
    return ok;
}

void PlayerWindow::note_failed_start(const QString& posture) {
    if (problem_text().isEmpty()) show_problem(QString("%1 cannot be played").arg(posture), {});
    // The control area names the posture and what failed, not the course.
    QString what = problem_text();
    if (what.startsWith(posture + ": ")) what = what.mid(posture.size() + 2);
    failed_posture_ = posture;
    failed_what_ = what;
}

void PlayerWindow::check_start_soon() {
    QTimer::singleShot(0, this, [this, start = starts_] {
        if (start == starts_) check_start();
    });
}

void PlayerWindow::check_start() {
    if (control_->state() != W::Idle) return;
    if (routine_->phase() == Routine::Phase::Playing && routine_->index() == due_index_) {
        note_failed_start(routine_->current());
        routine_->posture_ended();
    } else if (single_running_ && !routine_->active()) {
        single_running_ = false;
        note_failed_start(playing_);
        emit programme_ended();
    } else {
        return;
    }
    update_status();
    update_buttons();
    update_idle();
}

bool PlayerWindow::play() {
    routine_->stop();
    played_to_end_ = false;
    return begin(false);
}

bool PlayerWindow::preview() {
    routine_->stop();
    played_to_end_ = false;
    return begin(true);
}

void PlayerWindow::start_due(const QString& name, int index, int) {
    due_index_ = index;
    if (!select_posture(name)) {
        show_problem(QString("%1 is not a posture of this course").arg(name), {});
    } else if (begin(false)) {
        return;  // a start that played nothing is caught by check_start
    }
    // It cannot start, and will never end: go on with the next.
    QTimer::singleShot(0, routine_, [r = routine_, index] {
        if (r->index() == index && r->phase() == Routine::Phase::Playing) r->posture_ended();
    });
}

bool PlayerWindow::pause() {
    if (routine_->phase() == Routine::Phase::Resting) {
        routine_->pause_rest();
        return true;
    }
    const W::State s = control_->state();
    if (s == W::Previewing) {
        // Pause stops a preview's watch but not its video, and acts on the
        // devices of whatever played before it: not offered.
        statusBar()->showMessage("A preview cannot be paused: S stops it", 5000);
        return false;
    }
    if (s != W::Playing && s != W::Held) return false;
    return control_->Pause();
}

bool PlayerWindow::resume() {
    if (routine_->phase() == Routine::Phase::Resting) {
        routine_->resume_rest();
        return true;
    }
    if (control_->state() != W::Paused) return false;
    return control_->Start();
}

void PlayerWindow::toggle_pause() {
    const bool paused = routine_->phase() == Routine::Phase::Resting
                            ? routine_->rest_paused()
                            : control_->state() == W::Paused;
    paused ? resume() : pause();
    update_status();
    update_buttons();
    update_idle();
}

bool PlayerWindow::stop() {
    const bool had_routine = routine_->active();
    routine_->stop();
    single_running_ = false;
    const W::State s = control_->state();
    bool ok = had_routine;
    if (s != W::Idle && s != W::Ended) ok = control_->StopPlay();
    update_status();
    update_buttons();
    update_idle();
    return ok;
}

bool PlayerWindow::play_all() {
    QStringList names;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) names << list_->topLevelItem(i)->text(0);
    return play_routine(names);
}

bool PlayerWindow::play_routine() {
    const QString name = routine_name_->currentText().trimmed();
    if (!name.isEmpty() && course_open_) {
        settings_.setValue(course_key() + "/routine", name);
        settings_.sync();
    }
    return play_routine(composed_routine());
}

bool PlayerWindow::play_routine(const QStringList& postures) {
    if (!course_open_ || postures.isEmpty()) return false;
    routine_done_ = false;
    played_to_end_ = false;
    single_running_ = false;
    routine_->stop();  // before StopPlay, whose Idle must not move a routine on
    if (control_->state() != W::Idle && control_->state() != W::Ended) control_->StopPlay();
    want_timelines(postures);
    routine_->start(postures);
    return true;
}

void PlayerWindow::skip_rest() { routine_->skip_rest(); }
void PlayerWindow::set_rest_seconds(int seconds) { routine_->set_rest_seconds(seconds); }

QStringList PlayerWindow::composed_routine() const {
    QStringList names;
    for (int i = 0; i < routine_list_->count(); ++i) names << routine_list_->item(i)->text();
    return names;
}

void PlayerWindow::set_composed_routine(const QStringList& postures) {
    routine_list_->clear();
    routine_list_->addItems(postures);
    update_buttons();
}

bool PlayerWindow::save_routine(const QString& name) {
    const QString key = name.trimmed();
    if (!course_open_) {
        statusBar()->showMessage("Choose a course folder first: a routine belongs to its course",
                                 6000);
        return false;
    }
    if (routine_list_->count() == 0) {
        statusBar()->showMessage(
            "The routine is empty: add postures to it first (Insert adds the selected one)", 6000);
        return false;
    }
    if (key.isEmpty()) {
        if (full_screen_) {
            statusBar()->showMessage(
                "Give the routine a name first: leave full screen (Esc), "
                "type it in the Routine box, then press Enter",
                8000);
        } else {
            statusBar()->showMessage(
                "Give the routine a name first: type it in the Routine box, "
                "then press Enter (Esc goes back)",
                8000);
            routine_name_->setFocus();
        }
        return false;
    }
    settings_.setValue(course_key() + "/routines/" + as_key(key), composed_routine());
    settings_.setValue(course_key() + "/routine", key);
    settings_.sync();
    refresh_saved_routines();
    routine_name_->setCurrentText(key);
    statusBar()->showMessage(QString("Routine %1 saved").arg(key), 4000);
    if (in_name_box(QApplication::focusWidget())) leave_name_box(false);
    return true;
}

bool PlayerWindow::in_name_box(const QWidget* w) const {
    return w != nullptr && (w == routine_name_ || routine_name_->isAncestorOf(w));
}

void PlayerWindow::leave_name_box(bool cancel) {
    if (cancel) routine_name_->setCurrentText(name_before_);
    QWidget* back = back_from_name_;
    if (back == nullptr || back->window() != this || !back->isVisible() || !back->isEnabled() ||
        in_name_box(back))
        back = list_;
    back->setFocus(Qt::OtherFocusReason);
}

bool PlayerWindow::load_routine(const QString& name) {
    if (!course_open_) return false;
    const QString key = course_key() + "/routines/" + as_key(name);
    if (!settings_.contains(key)) return false;
    set_composed_routine(settings_.value(key).toStringList());
    routine_name_->setCurrentText(name);
    settings_.setValue(course_key() + "/routine", name);
    settings_.sync();
    return true;
}

QStringList PlayerWindow::saved_routines() const {
    if (!course_open_) return {};
    settings_.beginGroup(course_key() + "/routines");
    QStringList names;
    for (const QString& key : settings_.childKeys()) names << from_key(key);
    settings_.endGroup();
    return names;
}

void PlayerWindow::refresh_saved_routines() {
    const QString text = routine_name_->currentText();
    routine_name_->clear();
    routine_name_->addItems(saved_routines());
    routine_name_->setCurrentText(text);
}

bool PlayerWindow::remembered_full_screen() const {
    return settings_.value(kFullScreenKey, false).toBool();
}

void PlayerWindow::set_full_screen(bool on, bool remember) {
    if (remember) {
        settings_.setValue(kFullScreenKey, on);
        settings_.sync();
    }
    if (on == full_screen_) return;
    full_screen_ = on;
    if (on) focus_before_full_ = QApplication::focusWidget();  // before the list hides
    side_->setVisible(!on);
    statusBar()->setVisible(!on);
    big_status_->setVisible(on);
    auto* layout = centralWidget()->layout();
    if (on) {
        normal_geometry_ = geometry();
        was_maximized_ = isMaximized();
        QScreen* where = screen();
        // Read from a mat two metres away: at least a thirtieth of the
        // screen's height.
        chrome_font_ = chrome_->font();
        const int height = where != nullptr ? where->geometry().height() : 1080;
        QFont big = chrome_font_;
        big.setPixelSize(std::max((height + 29) / 30, QFontInfo(chrome_font_).pixelSize()));
        chrome_->setFont(big);
        help_->setFont(big);
        layout->setContentsMargins(0, 0, 0, 0);
        chrome_->hide();
        // A style sheet's font wins over an inherited one: the size goes
        // in the sheet.
        centralWidget()->setStyleSheet(
            QString(kFullScreenStyle) +
            QString(" QPushButton, QLabel, QWidget { font-size: %1px; }").arg(big.pixelSize()));
        // Cover the screen first: without a window manager to honour the
        // request below, nothing else would.
        if (where != nullptr) setGeometry(where->geometry());
        showFullScreen();
    } else {
        chrome_->setFont(chrome_font_);
        help_->setFont(chrome_font_);
        layout->setContentsMargins(9, 9, 9, 9);
        centralWidget()->setStyleSheet({});
        chrome_->show();
        hide_chrome_->stop();
        buttons_["full_screen"]->setText("Full screen");
        // The rows under the picture still hold their full-screen sizes
        // until their layouts run: the window's least size would grow the
        // size it goes back to.
        chrome_->layout()->activate();
        layout->activate();
        QMainWindow::layout()->activate();
        if (was_maximized_) {
            showMaximized();
        } else {
            showNormal();
            if (normal_geometry_.isValid()) setGeometry(normal_geometry_);
        }
        // The keys go back to where they were: the list hid under them.
        if (focus_before_full_ != nullptr && focus_before_full_->window() == this &&
            focus_before_full_->isVisible())
            focus_before_full_->setFocus(Qt::OtherFocusReason);
    }
    if (on) buttons_["full_screen"]->setText("Leave full screen");
    update_status();
    update_idle();
    if (!help_->isHidden()) place_help();
}

void PlayerWindow::show_chrome() {
    if (!full_screen_) return;
    if (chrome_->isHidden()) chrome_->show();
    hide_chrome_->start();
}

void PlayerWindow::place_help() {
    // Centred on the window at its own size, whatever the window's size and
    // the screen's scale; cut to the window only when it cannot fit.
    const QRect area = centralWidget()->rect();
    help_->adjustSize();
    const QSize size = help_->sizeHint().boundedTo(area.size() - QSize(16, 16));
    QRect where(QPoint(0, 0), size);
    where.moveCenter(area.center());
    help_->setGeometry(where);
}

void PlayerWindow::show_help(bool on) {
    if (on) {
        place_help();
        help_->raise();
        help_->show();
    } else {
        help_->hide();
    }
}

QString PlayerWindow::status_text() const { return status_label_->text(); }
QString PlayerWindow::full_screen_status() const {
    return big_status_->isHidden() ? QString() : big_status_->text();
}
QString PlayerWindow::said() const { return statusBar()->currentMessage(); }
QString PlayerWindow::problem_text() const {
    return problem_label_->isHidden() ? QString() : problem_label_->text();
}
QString PlayerWindow::problem_details() const {
    return details_label_->isHidden() ? QString() : details_label_->text();
}
QString PlayerWindow::idle_text() const { return idle_->isHidden() ? QString() : idle_->text(); }

void PlayerWindow::show_problem(const QString& headline, const QString& details,
                                const QString& suggestion) {
    problem_label_->setText(headline);
    problem_label_->show();
    details_label_->setText(details);
    details_label_->setVisible(!details.isEmpty());
    suggested_ = suggestion;
    auto* suggest = buttons_["suggest"];
    suggest->setText(QString("Open %1").arg(suggestion));
    suggest->setVisible(!suggestion.isEmpty());
    update_status();
}

void PlayerWindow::clear_problem() {
    failed_posture_.clear();
    failed_what_.clear();
    problem_label_->hide();
    details_label_->hide();
    suggested_.clear();
    buttons_["suggest"]->hide();
}

void PlayerWindow::update_status() {
    QString text;
    const QString posture = playing_;
    const QString whole = routine_->active() ? routine_time() : QString();
    if (routine_->phase() == Routine::Phase::Resting) {
        text = QString("Rest: %1 in %2 s").arg(routine_->next()).arg(routine_->seconds_left());
        if (routine_->rest_paused()) text += " (paused)";
        if (!whole.isEmpty()) text += " · " + whole;
    } else if (routine_done_) {
        text = QString("The routine has ended: %1 postures").arg(routine_->count());
    } else {
        switch (control_->state()) {
            case W::Idle:
                text = !problem_text().isEmpty() ? QString("Nothing plays")
                       : posture.isEmpty()       ? QString("Ready")
                                                 : QString("%1: stopped").arg(posture);
                break;
            case W::Playing: text = QString("Playing %1 (%2)").arg(posture, playing_kind_); break;
            case W::Held:
                text = QString("Playing %1: waiting for the narration").arg(posture);
                break;
            case W::Paused: text = QString("%1: paused").arg(posture); break;
            case W::Previewing:
                text = QString("Previewing %1 (%2)").arg(posture, playing_kind_);
                break;
            case W::Ended: text = QString("%1: the programme has ended").arg(posture); break;
        }
    }
    if (routine_->phase() == Routine::Phase::Playing) {
        text = QString("Routine %1 of %2%3: %4")
                   .arg(routine_->index() + 1)
                   .arg(routine_->count())
                   .arg(whole.isEmpty() ? QString() : " (" + whole + ")")
                   .arg(text);
    }
    status_label_->setText(text);
    // Full screen has no status bar: its line carries the problem and any
    // passing message too.
    QString big = text;
    if (!problem_text().isEmpty()) big = problem_text() + " · " + big;
    if (!said().isEmpty()) big = said() + " · " + big;
    big_status_->setText(big);
    // What a screen reader says of the picture: the posture, its state and
    // where the programme stands.
    const QString spoken = strip_->spoken();
    control_->setAccessibleDescription(spoken.isEmpty() ? text : text + "; " + spoken);
    if (!idle_->isHidden() || full_screen_) update_idle();
}

void PlayerWindow::update_buttons() {
    const W::State s = control_->state();
    const bool resting = routine_->phase() == Routine::Phase::Resting;
    const bool have_posture = course_open_ && list_->currentItem() != nullptr;
    const bool runs = s == W::Playing || s == W::Held || s == W::Previewing;
    buttons_["play"]->setEnabled(have_posture);
    buttons_["preview"]->setEnabled(have_posture);
    const bool pausable = s == W::Playing || s == W::Held;
    buttons_["pause"]->setEnabled((pausable && !resting) || (resting && !routine_->rest_paused()));
    buttons_["resume"]->setEnabled((s == W::Paused && !resting) ||
                                   (resting && routine_->rest_paused()));
    buttons_["stop"]->setEnabled(routine_->active() || runs || s == W::Paused);
    buttons_["play_all"]->setEnabled(course_open_ && list_->topLevelItemCount() > 0);
    buttons_["next"]->setEnabled(resting);
    buttons_["add"]->setEnabled(have_posture);
    const bool picked = routine_list_->currentRow() >= 0;
    buttons_["remove"]->setEnabled(picked);
    buttons_["up"]->setEnabled(picked && routine_list_->currentRow() > 0);
    buttons_["down"]->setEnabled(picked &&
                                 routine_list_->currentRow() + 1 < routine_list_->count());
    buttons_["save"]->setEnabled(routine_list_->count() > 0 &&
                                 !routine_name_->currentText().trimmed().isEmpty());
    buttons_["play_routine"]->setEnabled(course_open_ && routine_list_->count() > 0);
}

QString PlayerWindow::next_in_list() const {
    for (int i = 0; i + 1 < list_->topLevelItemCount(); ++i) {
        if (list_->topLevelItem(i)->text(0) == playing_) return list_->topLevelItem(i + 1)->text(0);
    }
    return {};
}

void PlayerWindow::update_idle() {
    // In full screen the type is sized for the mat, two metres away: the
    // smallest line a thirtieth of the screen's height.
    const QScreen* where = screen();
    const int unit =
        full_screen_ && where != nullptr ? std::max(16, (where->geometry().height() + 29) / 30) : 0;
    auto para = [unit](int points, double units, const QString& text) {
        const QString size = unit > 0 ? QString("%1px").arg(static_cast<int>(unit * units))
                                      : QString("%1pt").arg(points);
        return QString("<p style='font-size:%1'>%2</p>").arg(size, text);
    };
    QString text;
    const W::State s = control_->state();
    const QString chosen =
        list_->currentItem() != nullptr ? list_->currentItem()->text(0) : QString();
    if (routine_->phase() == Routine::Phase::Resting) {
        text = para(18, 1.5, "Rest") + para(28, 3, QString::number(routine_->seconds_left())) +
               para(11, 1,
                    QString("Next: %1 &nbsp; (N goes on now%2)")
                        .arg(routine_->next().toHtmlEscaped(),
                             routine_->rest_paused() ? ", Space resumes" : ""));
    } else if (full_screen_ && routine_done_) {
        text = para(18, 1.5, "The routine has ended") +
               para(11, 1,
                    QString("%1 postures &nbsp; · &nbsp; Esc leaves full screen")
                        .arg(routine_->count()));
    } else if (full_screen_ && s == W::Ended && !routine_->active()) {
        // The last frame alone does not say that it is over.
        const QString next = next_in_list();
        const QString line =
            !chosen.isEmpty() && chosen != playing_
                ? QString("Enter plays %1 &nbsp; (Up, Down choose another)")
                      .arg(chosen.toHtmlEscaped())
            : next.isEmpty()
                ? QString("That was the course's last posture")
                : QString("Next: %1 &nbsp; (Down, then Enter)").arg(next.toHtmlEscaped());
        text = para(18, 1.5, QString("%1 has ended").arg(playing_.toHtmlEscaped())) +
               para(11, 1, line) + para(11, 1, "Esc leaves full screen");
    } else if (s == W::Idle) {
        if (!course_open_) {
            text =
                para(16, 1.5, "No course yet") + para(11, 1, "Choose the course folder (Ctrl+O)");
        } else if (!failed_posture_.isEmpty()) {
            text = para(18, 1.5, failed_posture_.toHtmlEscaped()) +
                   para(11, 1, failed_what_.toHtmlEscaped()) +
                   para(11, 1, "Choose another posture and press Enter");
        } else {
            text = para(18, 1.5, course_name_.toHtmlEscaped()) +
                   para(11, 1,
                        full_screen_ && !chosen.isEmpty()
                            ? QString("Enter plays %1, A plays them all &nbsp; (Up, Down "
                                      "choose another)")
                                  .arg(chosen.toHtmlEscaped())
                            : QString("Choose a posture and press Enter, or A to play them all"));
        }
    }
    if (text.isEmpty()) {
        idle_->hide();
        return;
    }
    if (text != idle_->text()) idle_->setText(text);
    idle_->setGeometry(control_->rect());
    idle_->raise();
    idle_->show();
}

void PlayerWindow::choose_course() {
    const QString start = control_->Resourcedir() == "0" ? QString() : control_->Resourcedir();
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Choose the course folder", start);
    if (!folder.isEmpty()) open_course(folder);
}

void PlayerWindow::move_selection(int by) {
    const int count = list_->topLevelItemCount();
    if (count == 0) return;
    const int row = list_->currentItem() != nullptr
                        ? list_->indexOfTopLevelItem(list_->currentItem())
                        : (by > 0 ? -1 : count);
    list_->setCurrentItem(list_->topLevelItem(std::clamp(row + by, 0, count - 1)));
}

bool PlayerWindow::handle_key(QKeyEvent* key, QWidget* focus) {
    const bool typing = is_text_entry(focus);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
        case Qt::Key_Space:
            if (typing || mods != Qt::NoModifier) return false;
            toggle_pause();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (mods != Qt::NoModifier) return false;
            if (in_name_box(focus)) {
                // Only a missing name keeps the keys in the box.
                if (!save_routine(routine_name_->currentText()) && routine_list_->count() == 0)
                    leave_name_box(false);
                return true;
            }
            if (qobject_cast<QPushButton*>(focus) != nullptr) return false;
            play();
            return true;
        case Qt::Key_Escape:
            if (!help_->isHidden()) {
                show_help(false);
                return true;
            }
            if (in_name_box(focus)) {
                leave_name_box(true);
                statusBar()->showMessage("The routine's name is left as it was", 4000);
                return true;
            }
            if (full_screen_) {
                set_full_screen(false);
                return true;
            }
            return false;
        case Qt::Key_Up:
        case Qt::Key_Down:
            // The lists and the name box move in themselves; elsewhere the
            // arrows choose the posture.
            if (mods != Qt::NoModifier || typing || focus == list_ || focus == routine_list_ ||
                qobject_cast<QComboBox*>(focus) != nullptr)
                return false;
            move_selection(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        default:
            if (!typing && key->text() == "?") {
                show_help(help_->isHidden());
                return true;
            }
            return false;
    }
}

bool PlayerWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::KeyPress: {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget == nullptr || widget->window() != this) break;
            const bool unseen = full_screen_ && chrome_->isHidden();
            if (full_screen_) show_chrome();
            if (event->type() != QEvent::KeyPress) break;
            // Each receiver on the way up sees the event here: act once, for
            // the first (the focus, or the window when nothing has it).
            QWidget* focus = QApplication::focusWidget();
            if (focus != nullptr && focus->window() != this) focus = nullptr;
            if (widget != (focus != nullptr ? focus : this)) break;
            // A button out of sight does not take Enter: the key is the window's.
            if (unseen && focus != nullptr && chrome_->isAncestorOf(focus)) focus = nullptr;
            if (handle_key(static_cast<QKeyEvent*>(event), focus)) return true;
            break;
        }
        case QEvent::MouseButtonDblClick:
            if (watched == control_ || watched == control_->picture1() ||
                watched == control_->picture2()) {
                set_full_screen(!full_screen_);
                return true;
            }
            break;
        case QEvent::Resize:
            if (watched == control_) idle_->setGeometry(control_->rect());
            if (watched == course_label_) elide_path(course_label_);
            if (watched == centralWidget() && !help_->isHidden()) place_help();
            break;
        default: break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    remember();
    event->accept();
}

namespace {

constexpr double kRates[] = {0.5, 0.75, 1.0, 1.25, 1.5};

}  // namespace

void PlayerWindow::add_practice(QHBoxLayout* row) {
    auto add = [&](const QString& name, const QString& label, const QString& tip,
                   const QList<QKeySequence>& keys, const std::function<void()>& slot) {
        row->addWidget(add_button(chrome_, name, label, tip, keys, slot));
    };
    add("slower", "Slower", "Play slower, the voice at its own pitch", {Qt::Key_Minus},
        [this] { slower(); });
    rate_label_ = new QLabel(rate_text(), chrome_);
    rate_label_->setAccessibleName("Speed");
    rate_label_->setAlignment(Qt::AlignCenter);
    row->addWidget(rate_label_);
    add("faster", "Faster", "Play faster, the voice at its own pitch",
        {Qt::Key_Plus, Qt::Key_Equal}, [this] { faster(); });
    add("again", "Again", "Play this segment again, twice, then go on", {Qt::Key_G},
        [this] { repeat_segment(); });
    add("mirror", "Mirror", "Show the picture mirrored, left to right", {Qt::Key_M},
        [this] { set_mirrored(!control_->mirrored()); });
    add("continue", "Continue", "Continue the posture where you stopped", {Qt::Key_C},
        [this] { continue_where_stopped(); });
    buttons_.value("mirror")->setCheckable(true);
    set_mirrored(settings_.value("practice/mirrored", false).toBool());
    connect(strip_, &ProgressStrip::part_clicked, this, [this](int part) { play_from_part(part); });
    // Where the learner is, kept until the posture plays to its end.
    connect(control_, &W::progressChanged, this, [this](int current, int) {
        if (course_open_ && control_->programmeKind() == W::Video && current > 0) {
            settings_.setValue(course_key() + "/resume/posture", playing_);
            settings_.setValue(course_key() + "/resume/part", current);
        }
        update_practice();
    });
    connect(control_, &W::VideoEnd, this, [this] {
        if (control_->programmeKind() == W::Video && resume_point().first == playing_)
            settings_.remove(course_key() + "/resume");
        update_practice();
    });
    connect(control_, &W::stateChanged, this, [this] { update_practice(); });
    update_practice();
}

void PlayerWindow::update_practice() {
    const auto state = control_->state();
    const bool video_on = control_->programmeKind() == W::Video &&
                          (state == W::Playing || state == W::Held || state == W::Paused);
    buttons_.value("again")->setEnabled(video_on);
    buttons_.value("continue")->setEnabled(!resume_point().first.isEmpty());
    rate_label_->setText(rate_text());
}

QString PlayerWindow::rate_text() const { return QString::number(control_->playbackRate()) + "x"; }

bool PlayerWindow::step_rate(int by) {
    const double now = control_->playbackRate();
    const int count = static_cast<int>(std::size(kRates));
    int at = 0;
    while (at + 1 < count && kRates[at] < now - 1e-9) ++at;
    const int next = std::clamp(at + by, 0, count - 1);
    if (kRates[next] == now) return false;
    control_->setPlaybackRate(kRates[next]);
    update_practice();
    statusBar()->showMessage("Speed " + rate_text(), 3000);
    return true;
}

bool PlayerWindow::slower() { return step_rate(-1); }
bool PlayerWindow::faster() { return step_rate(1); }

bool PlayerWindow::play_from_part(int part) {
    // Planned boxes belong to the chosen posture, not to the one that played.
    const auto* item = list_->currentItem();
    const bool planned = strip_->shows_planned();
    if (planned ? item == nullptr || item->text(1) != "video"
                : control_->programmeKind() != W::Video || !select_posture(playing_))
        return false;
    routine_->stop();
    played_to_end_ = false;
    return begin(false, part, 1);
}

bool PlayerWindow::repeat_segment() {
    const auto state = control_->state();
    if (control_->programmeKind() != W::Video ||
        !(state == W::Playing || state == W::Held || state == W::Paused) ||
        !select_posture(playing_)) {
        statusBar()->showMessage("Again works while a video posture plays", 5000);
        return false;
    }
    const int part = control_->currentPart();
    routine_->stop();
    played_to_end_ = false;
    return begin(false, part, 2);
}

void PlayerWindow::set_mirrored(bool on) {
    control_->setMirrored(on);
    buttons_.value("mirror")->setChecked(on);
    settings_.setValue("practice/mirrored", on);
}

QPair<QString, int> PlayerWindow::resume_point() const {
    if (!course_open_) return {};
    const QString posture = settings_.value(course_key() + "/resume/posture").toString();
    const int part = settings_.value(course_key() + "/resume/part", 0).toInt();
    if (posture.isEmpty() || part < 1) return {};
    return {posture, part};
}

bool PlayerWindow::continue_where_stopped() {
    const auto [posture, part] = resume_point();
    if (posture.isEmpty() || !select_posture(posture)) {
        statusBar()->showMessage("Nothing to continue on this course", 5000);
        return false;
    }
    routine_->stop();
    played_to_end_ = false;
    return begin(false, part, 1);
}

}  // namespace strovia::player
