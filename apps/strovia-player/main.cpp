// strovia-player: plays the postures of a course in the Strovia control.

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <iostream>

#include <CLI/CLI.hpp>

#include <strovia/video_cntl_widget.hpp>
#include "player_window.hpp"

int main(int argc, char** argv) {
    CLI::App cli{"strovia-player: plays the postures of a course"};
    std::string content;
    std::string posture;
    bool preview = false;
    bool quit_at_end = false;
    cli.add_option("--content", content, "Course folder (the control's Resourcedir)");
    cli.add_option("--posture", posture, "Open this posture at once (needs --content)")
        ->needs("--content");
    cli.add_flag("--preview", preview, "Preview the posture instead of playing it")
        ->needs("--posture");
    cli.add_flag("--quit-at-end", quit_at_end, "Quit when the programme has ended");
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
    window.resize(760, 360);
    window.show();

    int exit_code = 0;
    if (!content.empty()) window.open_course(QString::fromStdString(content));
    if (!posture.empty()) {
        if (!window.select_posture(QString::fromStdString(posture))) {
            std::cerr << "strovia-player: no posture named '" << posture << "' in " << content
                      << "\n";
            return 1;
        }
        QTimer::singleShot(0, &window, [&] {
            const bool ok = preview ? window.preview() : window.play();
            if (!ok && quit_at_end) {
                std::cerr << "strovia-player: error " << window.control()->lastErrorNumber() << ": "
                          << window.control()->lastErrorText().toStdString() << "\n";
                exit_code = 1;
                app.quit();
            }
        });
    }
    if (quit_at_end) {
        QObject::connect(&window, &strovia::player::PlayerWindow::programme_ended, &app, [&] {
            window.close();
            app.quit();
        });
    }
    const int rc = app.exec();
    return exit_code != 0 ? exit_code : rc;
}
