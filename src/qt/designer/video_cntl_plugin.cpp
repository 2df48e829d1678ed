#include "video_cntl_plugin.hpp"

#include <QIcon>
#include <QPixmap>

#include "strovia/video_cntl_widget.hpp"

namespace strovia {
namespace {

// The toolbox picture: 16 x 15 pixels in 16 colours, a frame of film.
const char* const kToolboxIcon[] = {
    "16 15 4 1",        "  c None",         ". c #000000",      "o c #FFFFFF",
    "b c #0000FF",      "................", ".o.o.o.o.o.o.o.o", "................",
    "..bbbbbbbbbbbb..", "..bbbbbbbbbbbb..", "..bbbbobbbbbbb..", "..bbbbooobbbbb..",
    "..bbbbooooobbb..", "..bbbbooobbbbb..", "..bbbbobbbbbbb..", "..bbbbbbbbbbbb..",
    "..bbbbbbbbbbbb..", "................", ".o.o.o.o.o.o.o.o", "................",
};

}  // namespace

QString VideoCntlPlugin::name() const { return QStringLiteral("strovia::VideoCntlWidget"); }
QString VideoCntlPlugin::group() const { return QStringLiteral("Strovia"); }
QString VideoCntlPlugin::toolTip() const {
    return QStringLiteral("Plays a posture's video or pictures with narration");
}
QString VideoCntlPlugin::whatsThis() const {
    return QStringLiteral(
        "Set Resourcedir to the course folder and AsanaNaME to a posture, then call fileOpen.");
}
QString VideoCntlPlugin::includeFile() const {
    return QStringLiteral("strovia/video_cntl_widget.hpp");
}
QIcon VideoCntlPlugin::icon() const { return QIcon(QPixmap(kToolboxIcon)); }

QWidget* VideoCntlPlugin::createWidget(QWidget* parent) { return new VideoCntlWidget(parent); }

QString VideoCntlPlugin::domXml() const {
    return QStringLiteral(R"(<ui language="c++">
 <widget class="strovia::VideoCntlWidget" name="videoCntl">
  <property name="geometry"><rect><x>0</x><y>0</y><width>352</width><height>288</height></rect></property>
  <property name="Resourcedir"><string>0</string></property>
  <property name="AsanaNaME"><string>0</string></property>
 </widget>
</ui>
)");
}

}  // namespace strovia
