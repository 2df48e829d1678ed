#pragma once
// A course as a host sees it before playing: open a course folder, list
// its postures as the control will treat them, and check what would go
// wrong when the control plays them.
//
//   strovia::Course course;
//   if (!course.open("/srv/course")) {
//       show(course.errorString());  // plain words; errorNumber() beside it
//       if (!course.suggestedFolder().isEmpty()) offer(course.suggestedFolder());
//   }
//   for (const strovia::CoursePosture& p : course.postures()) list(p.name);
//   const strovia::CourseReport report = course.check();
//
// The catalogue is read and closed again before each call returns, so a
// control can open it exclusively at any time. Inside one process the
// course and the controls share the catalogue's lock: a course can be read
// while a control of the same process plays from it.

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include <strovia/export.hpp>

namespace strovia {

// How one of the control's methods treats a posture.
enum class Presentation {
    Video,  // the video programme, or the video preview
    Photo,  // the pictures
    Fails,  // the method ends with an error (Preview on a null Disp_Type)
};

struct CoursePosture {
    int row = 0;       // 1-based row of the posture table
    QString name;      // empty when null
    QString asanaId;   // as text; empty when null
    QString dispType;  // as stored; empty when null or missing
    bool dispTypeNull = false;
    // fileOpen: Video only for a Disp_Type of exactly "Video"; never Fails.
    Presentation fileOpen = Presentation::Photo;
    // Preview: Photo for "PHOTO" in any letter case, Video for any other
    // text, Fails when Disp_Type is null or missing (with that number).
    Presentation preview = Presentation::Video;
    int previewErrorNumber = 0;
    // The segments (video) or pictures (photo) fileOpen plays; -1 when that
    // table cannot be read.
    int parts = -1;
};

struct STROVIA_EXPORT CourseFinding {
    enum class Severity {
        Error,    // the control will fail or show less than the course means
        Warning,  // this build handles it, but the course is worth mending
    };
    Severity severity = Severity::Error;
    QString posture;  // empty for the catalogue as a whole
    QString place;    // "catalogue", "Asanas row 3", "Audio_Asana7 row 2", ...
    QString text;

    // "POSTURE [PLACE]: TEXT", with "warning: " before a warning's text.
    QString line() const;
};

struct STROVIA_EXPORT CourseReport {
    QList<CoursePosture> postures;  // in table order
    QList<CourseFinding> findings;  // in the order they were met
    int errors() const;
    int warnings() const;
};

// A posture's programme over time, as fileOpen plays it: each segment or
// picture from its start, holds at segment ends included, and where
// VideoEnd comes. All in milliseconds from the start of the programme.
struct CourseTimeline {
    struct Part {
        qint64 startMs = 0;
        qint64 lengthMs = 0;
    };
    QList<Part> parts;
    qint64 totalMs = -1;  // -1 when it cannot be worked out
    int errorNumber = 0;  // then why, in words and as a number
    QString errorString;

    bool isKnown() const { return totalMs >= 0; }
    QList<qint64> partLengths() const {
        QList<qint64> out;
        for (const Part& p : parts) out.append(p.lengthMs);
        return out;
    }
};

class STROVIA_EXPORT Course {
public:
    enum class CheckDepth {
        Catalogue,  // read every row the programmes would read
        Media,      // and decode every file they would open
    };

    Course();
    ~Course();
    Course(const Course&) = delete;
    Course& operator=(const Course&) = delete;

    // Reads the course in `folder` (the control's Resourcedir) and lists its
    // postures. False when the folder holds no readable course; then
    // errorNumber() and errorString() say why, and suggestedFolder() names
    // the parent folder when that is the course (the user picked video/).
    bool open(const QString& folder);
    bool isOpen() const;
    QString folder() const;

    int errorNumber() const;
    QString errorString() const;
    QString suggestedFolder() const;

    // The postures as open() read them, in table order.
    QList<CoursePosture> postures() const;

    // Walks the catalogue again, every posture and every row its programme
    // would take; with CheckDepth::Media also decodes each video, narration
    // and picture as the control's devices would. A course that could not
    // be opened gives the reason as a finding.
    CourseReport check(CheckDepth depth = CheckDepth::Media) const;

    // The programme of `posture` over time, before it plays: the control's
    // own programme run on a virtual clock against the lengths of its media,
    // which the control's devices measure. A file that cannot be opened
    // counts as the control counts it while playing (a narration as
    // finished at once, a video as having reached its boundaries); one that
    // is not a regular file is refused without waiting. Unknown when the
    // posture is not found or its programme would start nothing or never
    // end (errorNumber and errorString say why). Opening a damaged file
    // can take a few seconds: a user interface calls the second form.
    CourseTimeline timeline(const QString& posture) const;
    // The same without waiting: the catalogue is read now, the media are
    // measured on a worker thread, and `done` runs later on the
    // application's main thread, unless `context` is gone by then.
    void timeline(const QString& posture, QObject* context,
                  std::function<void(const CourseTimeline&)> done) const;

    // The folder the "mt" narration is taken from: by default the one the
    // control looks in, beside this library.
    QString narrationFolder() const;
    void setNarrationFolder(const QString& folder);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace strovia
