#pragma once
// The control's identity and public interface as data: what a host binds
// against. `strovia describe` prints it; the dispatch entry routes by it.

#include <cstdint>
#include <span>
#include <string_view>

namespace strovia {

using DispId = std::int32_t;

enum class InvokeKind { Method, PropertyGet, PropertyPut };

enum class MemberKind { Method, PropertyGet, PropertyPut };

struct MemberInfo {
    std::string_view name;
    MemberKind kind;
    DispId dispid;
    std::string_view arguments;  // "none" or "string, by value"
    std::string_view result;     // "none", "string" or "variant, always empty"
};

namespace dispid {
inline constexpr DispId kFileOpen = 0x60030002;
inline constexpr DispId kInitAudio = 0x60030003;
inline constexpr DispId kInitVideo = 0x60030004;
inline constexpr DispId kResourcedir = 0x68030001;
inline constexpr DispId kAsanaNaME = 0x68030000;
inline constexpr DispId kStopPlay = 0x6003000A;
inline constexpr DispId kPreview = 0x6003000B;
inline constexpr DispId kPause = 0x6003000C;
inline constexpr DispId kStart = 0x6003000D;
inline constexpr DispId kPpreview = 0x6003000E;
inline constexpr DispId kVideoEnd = 1;
}  // namespace dispid

struct InterfaceInfo {
    std::string_view name;
    std::string_view guid;
    std::string_view flags;
};

struct Identity {
    std::string_view typelib_name;
    std::string_view typelib_guid;
    std::string_view typelib_version;
    std::string_view typelib_flags;
    std::string_view class_name;
    std::string_view class_guid;
    std::string_view class_flags;
    std::string_view progid;
    InterfaceInfo default_interface;
    InterfaceInfo event_interface;
    std::string_view event_name;
    DispId event_dispid;
    std::string_view version;
    std::uint32_t misc_status;
    std::string_view misc_status_names;
    std::uint16_t toolbox_bitmap_id;
};

const Identity& identity();

// Members of the default interface in interface order.
std::span<const MemberInfo> members();

std::string_view member_kind_name(MemberKind kind);

}  // namespace strovia
