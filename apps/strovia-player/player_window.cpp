#include "player_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <strovia/course.hpp>
#include <strovia/video_cntl_widget.hpp>

namespace strovia::player {
namespace {

constexpr const char* kControlGroup = "control";

QString describe(int number, const QString& text) {
    return QString("error %1: %2").arg(number).arg(text);
}

}  // namespace

PlayerWindow::PlayerWindow(QSettings& settings, QWidget* parent)
    : QMainWindow(parent), settings_(settings) {
    setWindowTitle(QApplication::applicationName());
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    auto* left = new QVBoxLayout;
    settings_.beginGroup(kControlGroup);
    control_ = new VideoCntlWidget(settings_, central);
    settings_.endGroup();
    control_->setFixedSize(control_->sizeHint());
    left->addWidget(control_);

    auto* buttons = new QHBoxLayout;
    auto add_button = [&](const QString& label, const QString& tip, auto slot) {
        auto* b = new QPushButton(label, central);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);  // keys go to the window, not the button
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    add_button("Play", "Play the selected posture (Enter)", [this] { play(); });
    add_button("Preview", "Preview the selected posture", [this] { preview(); });
    add_button("Pause", "Pause (Space)", [this] { pause(); });
    add_button("Resume", "Resume (Space)", [this] { resume(); });
    add_button("Stop", "Stop (Esc)", [this] { stop(); });
    left->addLayout(buttons);
    left->addStretch();
    columns->addLayout(left);

    auto* right = new QVBoxLayout;
    auto* course_row = new QHBoxLayout;
    course_label_ = new QLabel(central);
    course_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* choose = new QPushButton("Course folder...", central);
    choose->setFocusPolicy(Qt::NoFocus);
    connect(choose, &QPushButton::clicked, this, [this] { choose_course(); });
    course_row->addWidget(course_label_, 1);
    course_row->addWidget(choose);
    right->addLayout(course_row);
    problem_label_ = new QLabel(central);
    problem_label_->setWordWrap(true);
    problem_label_->setStyleSheet("color: #b00000;");
    problem_label_->hide();
    right->addWidget(problem_label_);
    list_ = new QTreeWidget(central);
    list_->setColumnCount(2);
    list_->setHeaderLabels({"Posture", "Kind"});
    list_->setRootIsDecorated(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->setFocusPolicy(Qt::NoFocus);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { play(); });
    right->addWidget(list_, 1);
    columns->addLayout(right, 1);

    status_label_ = new QLabel(this);
    statusBar()->addWidget(status_label_, 1);
    setCentralWidget(central);
    setFocusPolicy(Qt::StrongFocus);

    connect(control_, &VideoCntlWidget::VideoEnd, this, [this] {
        paused_ = false;
        say(QString("%1: the programme has ended").arg(playing_));
        emit programme_ended();
    });
    connect(control_, &VideoCntlWidget::notice, this,
            [this](const QString& text) { statusBar()->showMessage(text, 8000); });
    connect(control_, &VideoCntlWidget::failed, this,
            [this](const QString& method, int number, const QString& text) {
                say(QString("%1 failed: %2").arg(method, describe(number, text)));
            });

    const QString saved = control_->Resourcedir();
    if (saved != "0" && !saved.isEmpty()) {
        open_course(saved);
        select_posture(control_->AsanaNaME());
    } else {
        course_label_->setText("No course folder chosen");
    }
    say("Ready");
}

PlayerWindow::~PlayerWindow() = default;

void PlayerWindow::open_course(const QString& folder) {
    control_->setResourcedir(folder);
    course_label_->setText(folder);
    list_->clear();
    Course course;
    if (!course.open(folder)) {
        problem_label_->setText(QString("The course cannot be opened: %1")
                                    .arg(describe(course.errorNumber(), course.errorString())));
        problem_label_->show();
        return;
    }
    problem_label_->hide();
    for (const auto& p : course.postures()) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, p.name);
        item->setText(1, p.fileOpen == Presentation::Video ? "video" : "photo");
    }
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
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

bool PlayerWindow::begin(bool as_preview) {
    const auto* item = list_->currentItem();
    if (item == nullptr) {
        say("Choose a posture first");
        return false;
    }
    playing_ = item->text(0);
    paused_ = false;
    control_->setAsanaNaME(playing_);
    say(QString("%1 %2 (%3)").arg(as_preview ? "Previewing" : "Playing", playing_, item->text(1)));
    return as_preview ? control_->Preview() : control_->fileOpen();
}

bool PlayerWindow::play() { return begin(false); }
bool PlayerWindow::preview() { return begin(true); }

bool PlayerWindow::pause() {
    if (!control_->Pause()) return false;
    paused_ = true;
    say(QString("%1: paused").arg(playing_));
    return true;
}

bool PlayerWindow::resume() {
    if (!control_->Start()) return false;
    paused_ = false;
    say(QString("Playing %1").arg(playing_));
    return true;
}

bool PlayerWindow::stop() {
    if (!control_->StopPlay()) return false;
    paused_ = false;
    say(QString("%1: stopped").arg(playing_));
    return true;
}

QString PlayerWindow::status_text() const { return status_label_->text(); }
QString PlayerWindow::problem_text() const {
    return problem_label_->isHidden() ? QString() : problem_label_->text();
}

void PlayerWindow::say(const QString& text) { status_label_->setText(text); }

void PlayerWindow::choose_course() {
    const QString start = control_->Resourcedir() == "0" ? QString() : control_->Resourcedir();
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Choose the course folder", start);
    if (!folder.isEmpty()) open_course(folder);
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space: paused_ ? resume() : pause(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter: play(); return;
        case Qt::Key_Escape: stop(); return;
        case Qt::Key_Up:
        case Qt::Key_Down: QApplication::sendEvent(list_, event); return;
        default: QMainWindow::keyPressEvent(event);
    }
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    settings_.beginGroup(kControlGroup);
    if (!control_->writeProperties(settings_)) {
        say(QString("The settings could not be saved: %1")
                .arg(describe(control_->lastErrorNumber(), control_->lastErrorText())));
    }
    settings_.endGroup();
    event->accept();
}

}  // namespace strovia::player
