#include "control/interface.hpp"

#include <array>

namespace strovia {
namespace {

// The four identifiers were generated once at random and never change:
// hosts built against the type library find the class by them.
constexpr Identity kIdentity{
    .typelib_name = "Strovia",
    .typelib_guid = "{E8CE361B-B7F9-461E-B0EB-5E38EEBBA43D}",
    .typelib_version = "1.0",
    .typelib_flags = "control",
    .class_name = "VideoCntl",
    .class_guid = "{2DEFA8FA-3344-49D0-8EC4-DC460BE1DA1B}",
    .class_flags = "control",
    .progid = "Strovia.VideoCntl",
    .default_interface = {"_VideoCntl", "{5CFCFB50-4443-4013-8B91-18B84EE8A42B}",
                          "dual, hidden, nonextensible, oleautomation"},
    .event_interface = {"__VideoCntl", "{B7E8F252-8447-481C-AF5F-23B4332C0C0F}",
                        "dispinterface, hidden, nonextensible"},
    .event_name = "VideoEnd",
    .event_dispid = dispid::kVideoEnd,
    .version = "1.02.0001",
    .misc_status = 0x20191,
    .misc_status_names =
        "SETCLIENTSITEFIRST | ACTIVATEWHENVISIBLE | INSIDEOUT | "
        "CANTLINKINSIDE | RECOMPOSEONRESIZE",
    .toolbox_bitmap_id = 30000,
};

constexpr std::string_view kNone = "none";
constexpr std::string_view kString = "string";
constexpr std::string_view kByValue = "string, by value";
constexpr std::string_view kEmptyVariant = "variant, always empty";

constexpr std::array kMembers{
    MemberInfo{"fileOpen", MemberKind::Method, dispid::kFileOpen, kNone, kNone},
    MemberInfo{"InitAudio", MemberKind::Method, dispid::kInitAudio, kNone, kNone},
    MemberInfo{"InitVideo", MemberKind::Method, dispid::kInitVideo, kNone, kNone},
    MemberInfo{"Resourcedir", MemberKind::PropertyGet, dispid::kResourcedir, kNone, kString},
    MemberInfo{"Resourcedir", MemberKind::PropertyPut, dispid::kResourcedir, kByValue, kNone},
    MemberInfo{"AsanaNaME", MemberKind::PropertyGet, dispid::kAsanaNaME, kNone, kString},
    MemberInfo{"AsanaNaME", MemberKind::PropertyPut, dispid::kAsanaNaME, kByValue, kNone},
    MemberInfo{"StopPlay", MemberKind::Method, dispid::kStopPlay, kNone, kEmptyVariant},
    MemberInfo{"Preview", MemberKind::Method, dispid::kPreview, kNone, kEmptyVariant},
    MemberInfo{"Pause", MemberKind::Method, dispid::kPause, kNone, kEmptyVariant},
    MemberInfo{"Start", MemberKind::Method, dispid::kStart, kNone, kEmptyVariant},
    MemberInfo{"Ppreview", MemberKind::Method, dispid::kPpreview, kNone, kEmptyVariant},
};

}  // namespace

const Identity& identity() { return kIdentity; }

std::span<const MemberInfo> members() { return kMembers; }

std::string_view member_kind_name(MemberKind kind) {
    switch (kind) {
        case MemberKind::Method: return "method";
        case MemberKind::PropertyGet: return "property get";
        case MemberKind::PropertyPut: return "property put";
    }
    return "?";
}

}  // namespace strovia
