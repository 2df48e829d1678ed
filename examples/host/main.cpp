// The smallest host of the Strovia control: a form made in Qt Designer
// with the control and a Play button.
//
//   example_host COURSE_FOLDER POSTURE   plays the posture, quits at its end
//   example_host --properties            prints the properties the form set

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstring>

#include "strovia/video_cntl_widget.hpp"
#include "ui_host_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    Ui::HostWindow ui;
    ui.setupUi(&window);
    strovia::VideoCntlWidget* control = ui.videoCntl;

    if (argc == 2 && std::strcmp(argv[1], "--properties") == 0) {
        std::printf("Resourcedir=%s AsanaNaME=%s\n", qPrintable(control->Resourcedir()),
                    qPrintable(control->AsanaNaME()));
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: example_host COURSE_FOLDER POSTURE | --properties\n");
        return 2;
    }
    control->setResourcedir(QString::fromLocal8Bit(argv[1]));
    control->setAsanaNaME(QString::fromLocal8Bit(argv[2]));
    QObject::connect(control, &strovia::VideoCntlWidget::VideoEnd, &app, &QApplication::quit);
    QObject::connect(ui.playButton, &QPushButton::clicked, control,
                     &strovia::VideoCntlWidget::fileOpen);
    window.show();
    if (!control->fileOpen()) {
        std::fprintf(stderr, "fileOpen failed: error %d: %s\n", control->lastErrorNumber(),
                     qPrintable(control->lastErrorText()));
        return 1;
    }
    return app.exec();
}
