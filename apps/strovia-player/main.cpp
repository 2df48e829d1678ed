// strovia-player: plays the postures of a course in the Strovia control.

#include <QApplication>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>

#include <iostream>

#include <CLI/CLI.hpp>

#include <strovia/video_cntl_widget.hpp>
#include "../runtime_dir.hpp"
#include "player_window.hpp"

int main(int argc, char** argv) {
    strovia::app::supply_runtime_dir();
    CLI::App cli{"strovia-player: plays the postures of a course, one by one or as a routine"};
    std::string content;
    std::string posture;
    std::string routine;
    bool preview = false;
    bool quit_at_end = false;
    bool play_all = false;
    bool fullscreen = false;
    int rest = 5;
    cli.add_option("--content", content, "Course folder (the control's Resourcedir)");
    auto* posture_opt =
        cli.add_option("--posture", posture, "Open this posture at once")->needs("--content");
    cli.add_flag("--preview", preview, "Preview the posture instead of playing it")
        ->needs("--posture");
    auto* all_opt =
        cli.add_flag("--play-all", play_all, "Play every posture of the course in catalogue order")
            ->needs("--content")
            ->excludes(posture_opt);
    cli.add_option("--routine", routine, "Play this saved routine")
        ->needs("--content")
        ->excludes(posture_opt, all_opt);
    cli.add_option("--rest", rest, "Seconds of rest between a routine's postures (default 5)")
        ->check(CLI::Range(0, 3600));
    cli.add_flag("--fullscreen", fullscreen, "Start in full screen (F11 and Esc change it)");
    cli.add_flag("--quit-at-end", quit_at_end,
                 "Quit when the posture, or the routine's last posture, has ended");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return cli.exit(e);
    }

    int qt_argc = 1;
    char* qt_argv[] = {argv[0], nullptr};
    QApplication app(qt_argc, qt_argv);
    QApplication::setApplicationName("Strovia Player");
    QSettings settings("Strovia", "strovia-player");

    strovia::player::PlayerWindow window(settings);
    window.set_rest_seconds(rest);
    window.place_on_screen();
    if (fullscreen) {
        window.set_full_screen(true, false);  // this once, not the learner's choice
    } else if (window.remembered_full_screen()) {
        window.set_full_screen(true);
    } else {
        window.show();
    }

    auto fail = [&](const std::string& text) {
        std::cerr << "strovia-player: " << text << "\n";
        return 1;
    };
    if (!content.empty() && !window.open_course(QString::fromStdString(content))) {
        const std::string why = window.problem_text().toStdString();
        if (quit_at_end || !posture.empty() || play_all || !routine.empty())
            return fail(why + " (" + window.problem_details().toStdString() + ")");
    }
    if (!posture.empty() && !window.select_posture(QString::fromStdString(posture)))
        return fail("no posture named '" + posture + "' in " + content);
    if (!routine.empty() && !window.load_routine(QString::fromStdString(routine)))
        return fail("no saved routine named '" + routine + "'");

    int exit_code = 0;
    const bool start = !posture.empty() || play_all || !routine.empty();
    if (start) {
        QTimer::singleShot(0, &window, [&] {
            bool ok = false;
            if (play_all) {
                ok = window.play_all();
            } else if (!routine.empty()) {
                ok = window.play_routine();
            } else {
                ok = preview ? window.preview() : window.play();
            }
            if (!ok && quit_at_end) {
                std::cerr << "strovia-player: " << window.problem_text().toStdString() << " ("
                          << window.problem_details().toStdString() << ")\n";
                exit_code = 1;
                app.quit();
            }
        });
    }
    if (quit_at_end) {
        QObject::connect(&window, &strovia::player::PlayerWindow::programme_ended, &app, [&] {
            exit_code = window.exit_status();
            if (exit_code != 0) {
                std::cerr << "strovia-player: nothing could be played: "
                          << window.problem_text().toStdString() << " ("
                          << window.problem_details().toStdString() << ")\n";
            }
            window.close();
            app.quit();
        });
    }
    const int rc = app.exec();
    // Timelines still waiting to be worked out are not wanted any more; one
    // being measured ends while the media engine is still there.
    QThreadPool::globalInstance()->clear();
    QThreadPool::globalInstance()->waitForDone();
    return exit_code != 0 ? exit_code : rc;
}
