#pragma once
// The programme control as a Qt widget: place it on any window, set
// Resourcedir and AsanaNaME, call the methods, and connect to VideoEnd.
//
//   auto* control = new strovia::VideoCntlWidget(window);
//   control->setResourcedir("/srv/course");
//   control->setAsanaNaME("Tadasana");
//   QObject::connect(control, &strovia::VideoCntlWidget::VideoEnd, ...);
//   control->fileOpen();
//
// Everything is called on the GUI thread. A method that fails returns false;
// lastErrorNumber() and lastErrorText() then say why, and `failed` is
// emitted as well.

#include <QSize>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <memory>

#include "strovia/export.hpp"

class QLabel;
class QSettings;

namespace strovia {

class STROVIA_EXPORT VideoCntlWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Resourcedir READ Resourcedir WRITE setResourcedir NOTIFY ResourcedirChanged)
    Q_PROPERTY(QString AsanaNaME READ AsanaNaME WRITE setAsanaNaME NOTIFY AsanaNaMEChanged)

public:
    // A new instance without saved state: both properties are "0".
    explicit VideoCntlWidget(QWidget* parent = nullptr);
    // An instance restored from the state a host saved with
    // writeProperties(); a key that is missing reads as "0".
    explicit VideoCntlWidget(QSettings& saved, QWidget* parent = nullptr);
    ~VideoCntlWidget() override;

    QString Resourcedir() const;
    void setResourcedir(const QString& value);
    QString AsanaNaME() const;
    void setAsanaNaME(const QString& value);

    // Saves both properties under the settings' current group. The control
    // itself never writes settings.
    bool writeProperties(QSettings& settings);

    // The dispatch entry: a member by dispatch id. `kind` is 0 for a
    // method, 1 for a property read, 2 for a property write (one string
    // argument). Returns an invalid QVariant for an empty result and on
    // failure (then lastErrorNumber() is non-zero).
    Q_INVOKABLE QVariant invoke(int dispid, int kind, const QVariantList& args = {});

    int lastErrorNumber() const;
    QString lastErrorText() const;

    // The child picture boxes, as designed.
    QLabel* picture1() const;
    QLabel* picture2() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    bool fileOpen();
    bool InitAudio();
    bool InitVideo();
    bool StopPlay();
    bool Preview();
    bool Pause();
    bool Start();
    bool Ppreview();

signals:
    // A programme or preview has come to its end.
    void VideoEnd();
    // Emitted on every property write, also of the value already held.
    void ResourcedirChanged(const QString& value);
    void AsanaNaMEChanged(const QString& value);
    // A method ended with an error.
    void failed(const QString& method, int number, const QString& text);
    // A media command failed while a routine ran. Delivered after the
    // routine returned; when nothing is connected, the widget shows the
    // text itself for a few seconds.
    void notice(const QString& text);

private:
    struct Impl;
    bool finish(const char* method, bool ok);
    std::unique_ptr<Impl> d_;
};

}  // namespace strovia
