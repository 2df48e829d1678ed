#pragma once
// A course's postures rendered into files that browsers and phones play,
// offline and faster than they play: one video file and one chapters file
// (WebVTT) a posture, and a course page (index.html) for all of them.
//
// An Exporter is one job. Set it up, call start() and wait for finished();
// the work runs on a thread of its own and every signal reaches the
// receiver on the thread the Exporter lives on. cancel() ends a running job
// within a second, whatever it waits on, and leaves the earlier export's
// files as they were: a file is replaced only by a complete new one.
//
// Errors are values: errorNumber() and errorString() after finished(). A
// posture that cannot be exported is skipped with its reason (in results()
// and postureFinished) and the others are exported; the page never shows
// learners why, that is for the maintainer.

#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

#include <strovia/export.hpp>

namespace strovia {

class STROVIA_EXPORT Exporter : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)

public:
    enum class Format { Mp4, WebM };
    Q_ENUM(Format)
    enum class State { Idle, Running, Finished };
    Q_ENUM(State)
    // errorNumber() of a job that exported the others and skipped some.
    static constexpr int SomePosturesSkipped = 9205;

    // What became of one posture.
    struct PostureResult {
        QString name;
        int number = 0;    // its place in the catalogue, 1 up
        QString file;      // the video file, relative to the output folder; empty when skipped
        QString chapters;  // its WebVTT file, likewise
        double seconds = 0;
        bool skipped = false;
        int errorNumber = 0;  // why it was skipped
        QString errorString;
    };

    explicit Exporter(QObject* parent = nullptr);
    ~Exporter() override;  // cancels a running job and waits for it to end

    // The course folder (Resourcedir).
    void setContentFolder(const QString& folder);
    QString contentFolder() const;
    // The postures to export, in any order (they are exported in catalogue
    // order); empty, the default, exports every posture.
    void setPostures(const QStringList& names);
    QStringList postures() const;
    // Where the files and index.html go; made when missing.
    void setOutputFolder(const QString& folder);
    QString outputFolder() const;
    void setFormat(Format format);  // Mp4 (H.264, AAC) by default
    Format format() const;
    // Even sizes from 16 x 16 to 3840 x 2160; 640 x 480 by default.
    // Pictures and videos are scaled in with their aspect kept.
    void setFrameSize(const QSize& size);
    QSize frameSize() const;
    // Where the "mt" narration is read from; by default where the control
    // reads it (Course::narrationFolder()).
    void setNarrationFolder(const QString& folder);
    QString narrationFolder() const;
    // A posture that reads a file lying outside the course folder (links
    // followed) is skipped unless this is set; either way outsideFile says so.
    void setAllowOutside(bool allow);
    bool allowOutside() const;
    // Works out each posture's schedule (scheduleReady) and writes nothing.
    void setScheduleOnly(bool only);
    bool scheduleOnly() const;
    // Also makes the output folder a SCORM 1.2 package for learning
    // platforms (imsmanifest.xml, scorm.js) and zips it beside itself as
    // FOLDER.zip.
    void setScormPackage(bool package);
    bool scormPackage() const;

    State state() const;
    // Posture n of m being exported (n from 1; 0 before the first), and
    // the share of it done, 0 to 1.
    int currentPosture() const;
    int postureCount() const;
    double postureProgress() const;
    // The whole job's share done, 0 to 1.
    double progress() const;

    // After finished(): 0 when every posture was exported; otherwise the
    // first reason the job failed, or how many postures were skipped.
    int errorNumber() const;
    QString errorString() const;
    bool wasCancelled() const;
    QList<PostureResult> results() const;  // in the order they were exported

public Q_SLOTS:
    // Starts the job; false (with the reason in errorString()) when it is
    // already running or a setting is out of range. finished() follows a
    // true return once, never from inside start().
    bool start();
    // Ends a running job soon; finished() comes with wasCancelled() true
    // and the text "interrupted". Should a call of the export not return,
    // the job ends 0.8 s after the cancel all the same, its parts removed,
    // and says so; that call's thread is left to end by itself.
    void cancel();

Q_SIGNALS:
    void stateChanged(strovia::Exporter::State state);
    void postureStarted(int posture, int count, const QString& name);
    void progressChanged(int posture, int count, double fraction);
    // A file the posture reads lies outside the course folder.
    void outsideFile(const QString& posture, const QString& file);
    // A part of an earlier export that was killed, removed from the folder.
    void leftoverRemoved(const QString& file);
    // One JSON object: the posture's narrations, shots and end, in seconds.
    void scheduleReady(const QString& posture, const QByteArray& json);
    void postureFinished(const strovia::Exporter::PostureResult& result);
    void finished();

private:
    struct Impl;
    std::shared_ptr<Impl> d_;
};

}  // namespace strovia
