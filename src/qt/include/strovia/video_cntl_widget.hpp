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
// lastErrorNumber() and lastErrorText() then say why.
//
// Beside the control's own interface, which keeps its defined behaviour, the
// widget reports in Qt's way what plays, as the control itself states it:
// state() and stateChanged(), the programme's kind, its progress (segment
// or picture n of N, counting the parts that play), the video's position in
// frames. errorOccurred() with error() and errorString() is the one error
// channel: it carries every failure, those of a method that returns false
// and those the control passes over by its definition (fileOpen returns
// normally and nothing plays; an unknown posture; a narration that cannot
// be opened counts as finished, so the programme moves on without it).
//
// VideoEnd is delivered queued, after the tick that raised it has returned.
// So a programme or preview that a VideoEnd handler starts is a programme
// of its own: a video preview started there ends with its own VideoEnd, and
// a video programme opened there plays through (where the control raises
// the event inside its tick, the ending preview's tick switches Timer1 off
// after the handler, and neither would ever end).

#include <QSize>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <memory>

#include "strovia/control_observer.hpp"
#include "strovia/export.hpp"

class QLabel;
class QSettings;

namespace strovia {

class STROVIA_EXPORT VideoCntlWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Resourcedir READ Resourcedir WRITE setResourcedir NOTIFY ResourcedirChanged)
    Q_PROPERTY(QString AsanaNaME READ AsanaNaME WRITE setAsanaNaME NOTIFY AsanaNaMEChanged)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(ProgrammeKind programmeKind READ programmeKind NOTIFY programmeKindChanged)
    Q_PROPERTY(int currentPart READ currentPart NOTIFY progressChanged)
    Q_PROPERTY(int partCount READ partCount NOTIFY progressChanged)
    Q_PROPERTY(qint64 position READ position NOTIFY positionChanged)
    Q_PROPERTY(Error error READ error NOTIFY errorChanged)
    Q_PROPERTY(QString errorString READ errorString NOTIFY errorChanged)
    Q_PROPERTY(Placement placement READ placement WRITE setPlacement NOTIFY placementChanged)
    Q_PROPERTY(
        qreal playbackRate READ playbackRate WRITE setPlaybackRate NOTIFY playbackRateChanged)
    Q_PROPERTY(bool mirrored READ mirrored WRITE setMirrored NOTIFY mirroredChanged)

public:
    enum State {
        Idle,        // nothing started, StopPlay, or a start that played nothing
        Playing,     // a programme runs
        Held,        // the video stands at a segment's end until its narration ends
        Paused,      // held by Pause until Start; a video preview whose video
                     // no programme left playing is not held by Pause, plays
                     // on and stays Previewing (Start watches it to its end)
        Previewing,  // a preview runs
        Ended,       // the programme or preview has raised VideoEnd
    };
    Q_ENUM(State)

    enum ProgrammeKind { None, Video, Photo, VideoPreview, PhotoPreview };
    Q_ENUM(ProgrammeKind)

    enum Error {
        NoError,
        CatalogueError,  // the catalogue cannot be opened or refuses the password
        TableError,      // the posture's segment or photo table is missing or empty
        FieldError,      // a field of the catalogue is missing, null or out of range
        VideoError,      // the posture's video cannot be opened or cannot go on
        NarrationError,  // a narration cannot be opened or fails while it plays
        PictureError,    // a picture is missing or no picture
        PostureError,    // AsanaNaME names no posture of the catalogue (error 3021)
        CallError,       // invoke() named no member or gave wrong arguments
    };
    Q_ENUM(Error)

    // How Picture1 shows the video and the pictures: scaled to fit the
    // control, aspect ratio kept, centred on black (the default), or at
    // their own size at the top left, cut off where the control ends.
    enum class Placement { ScaledToFit, OriginalSize };
    Q_ENUM(Placement)

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

    // The child picture boxes, as designed. Picture1 fills the control.
    QLabel* picture1() const;
    QLabel* picture2() const;

    Placement placement() const;
    void setPlacement(Placement placement);

    // Where the media goes instead of the machine's own outputs, for tests
    // and measurements: GStreamer launch descriptions of the sound's sink
    // and of the video's sink while the control is not shown (empty: the
    // defaults), and a file that gets a line for each media command and
    // each buffer a null sink renders (empty: none). Media opened from now
    // on use them. When a sink cannot be built or the file cannot be
    // written, nothing changes, `why` says so and the result is false.
    struct MediaOutputs {
        QString audioSink;
        QString videoSink;
        QString sinkLog;
    };
    bool setMediaOutputs(const MediaOutputs& outputs, QString* why = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Practice, beside the control's interface (unused, nothing changes).
    // The speed of the video and the narrations together, 1 by default,
    // from 0.5 to 1.5; narrations keep their pitch, holds stay at their
    // frames, and a programme takes 1/rate as long. It applies at once to
    // what plays and to everything opened later. A rate outside the range
    // is refused: the rate stays, failed() is emitted and lastErrorNumber()
    // says why (5).
    qreal playbackRate() const;
    void setPlaybackRate(qreal rate);
    // Picture1 shows the video and the pictures flipped left to right.
    bool mirrored() const;
    void setMirrored(bool mirrored);
    // Plays of the current segment still to come after this one (see
    // repeatPart).
    int repeatsLeft() const;

    State state() const;
    ProgrammeKind programmeKind() const;
    // Segment (video) or picture (photo) n of N; 1 of 1 in a video preview,
    // 0 of 0 when nothing plays.
    int currentPart() const;
    int partCount() const;
    // The video's frame in a video programme, as its last tick read it.
    qint64 position() const;
    // The last failure reported by errorOccurred(); cleared by the next
    // fileOpen, Preview or Ppreview.
    Error error() const;
    QString errorString() const;
    int errorNumber() const;

    // Not owned; nullptr removes it. Keep it alive while it is set.
    void setObserver(ControlObserver* observer);

public slots:
    bool fileOpen();
    bool InitAudio();
    bool InitVideo();
    bool StopPlay();
    bool Preview();
    bool Pause();
    bool Start();
    bool Ppreview();
    // fileOpen, with a video posture started at segment `part` (from 1):
    // the video from that row's StartPos, with that segment's narration.
    // A photo posture plays from its start. False, starting nothing, for a
    // part below 1; a part beyond the posture's segments is reported
    // through errorOccurred and nothing plays.
    bool playFromPart(int part);
    // As playFromPart, and segment `part` plays `times` times (each held
    // at its boundary until its narration ends) before the programme goes
    // on. False, starting nothing, for times below 1.
    bool repeatPart(int part, int times);

signals:
    // A programme or preview has come to its end.
    void VideoEnd();
    // Emitted on every property write, also of the value already held.
    void ResourcedirChanged(const QString& value);
    void AsanaNaMEChanged(const QString& value);
    // A slot returned false: which one, with lastErrorNumber() and
    // lastErrorText(). The same failure comes through errorOccurred; this
    // is for hosts that follow their own calls.
    void failed(const QString& method, int number, const QString& text);
    // Text for the user, never the way to learn of a failure: each media
    // command that failed while a routine ran, as the media layer words it
    // (a failed open also comes through errorOccurred; commands that then
    // fail on the device that is not open only here), and once, that the
    // machine has no sound output. Delivered after the routine returned;
    // when nothing is connected, the widget shows the text itself for a few
    // seconds.
    void notice(const QString& text);

    // Emitted only when the value really changed.
    void stateChanged(strovia::VideoCntlWidget::State state);
    void programmeKindChanged(strovia::VideoCntlWidget::ProgrammeKind kind);
    void progressChanged(int current, int count);
    void positionChanged(qint64 frame);
    // A failure, once the call or tick it happened in has returned; the
    // first of a call is its cause and the one told. `errorString` is plain
    // words with the engine's or the device's text (for PostureError the
    // control's message); errorNumber() gives its number.
    void errorOccurred(strovia::VideoCntlWidget::Error error, const QString& errorString);
    void errorChanged();
    // The "Asana not found - " message. When connected, the host shows it
    // in its own way and fileOpen returns as soon as the handler has;
    // otherwise the control shows its modal box. errorOccurred(PostureError)
    // follows once fileOpen has returned (true, as defined).
    void messageRequested(const QString& text);
    // Emitted only when the rate really changed.
    void playbackRateChanged(qreal rate);
    void mirroredChanged(bool mirrored);
    // The placement has changed.
    void placementChanged(strovia::VideoCntlWidget::Placement placement);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Impl;
    bool finish(const char* method, bool ok);
    template <typename Routine>
    bool call(const char* method, int effect, Routine routine);
    std::unique_ptr<Impl> d_;
};

}  // namespace strovia
