#include "strovia/describe.hpp"

#include <cstdio>
#include <sstream>
#include <string_view>

#include "control/interface.hpp"

namespace strovia::cli {
namespace {

std::string hex(std::uint32_t v, int width) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*X", width, v);
    return buf;
}

std::string dispid_text(DispId id) { return hex(static_cast<std::uint32_t>(id), 8); }

std::string pad(std::string_view s, std::size_t width) {
    std::string out(s);
    if (out.size() < width) out.append(width - out.size(), ' ');
    return out;
}

}  // namespace

nlohmann::ordered_json describe_json() {
    const Identity& id = identity();
    nlohmann::ordered_json j;
    j["typelib"] = {{"name", id.typelib_name},
                    {"guid", id.typelib_guid},
                    {"version", id.typelib_version},
                    {"flags", id.typelib_flags}};
    j["class"] = {{"name", id.class_name},
                  {"guid", id.class_guid},
                  {"flags", id.class_flags},
                  {"misc_status", hex(id.misc_status, 5)},
                  {"toolbox_bitmap", id.toolbox_bitmap_id}};
    j["progid"] = id.progid;
    j["interfaces"] = nlohmann::ordered_json::array();
    for (const InterfaceInfo* i : {&id.default_interface, &id.event_interface}) {
        j["interfaces"].push_back({{"name", i->name},
                                   {"guid", i->guid},
                                   {"flags", i->flags},
                                   {"role", i == &id.default_interface ? "default" : "source"}});
    }
    j["members"] = nlohmann::ordered_json::array();
    for (const MemberInfo& m : members()) {
        j["members"].push_back({{"name", m.name},
                                {"kind", member_kind_name(m.kind)},
                                {"dispid", dispid_text(m.dispid)},
                                {"arguments", m.arguments},
                                {"result", m.result}});
    }
    j["event"] = {{"name", id.event_name},
                  {"interface", id.event_interface.name},
                  {"dispid", dispid_text(id.event_dispid)},
                  {"arguments", "none"},
                  {"result", "none"}};
    j["version"] = id.version;
    j["misc_status"] = hex(id.misc_status, 5);
    return j;
}

std::string describe_table() {
    const Identity& id = identity();
    std::ostringstream out;
    out << "Type library  " << id.typelib_name << " " << id.typelib_version << "  "
        << id.typelib_guid << "  (" << id.typelib_flags << ")\n";
    out << "Class         " << id.class_name << "  " << id.class_guid << "  (" << id.class_flags
        << ")\n";
    out << "ProgID        " << id.progid << "\n";
    for (const InterfaceInfo* i : {&id.default_interface, &id.event_interface}) {
        out << (i == &id.default_interface ? "Interface     " : "Events        ")
            << pad(i->name, 13) << i->guid << "  (" << i->flags << ")\n";
    }
    out << "Version       " << id.version << "\n";
    out << "Misc status   " << hex(id.misc_status, 5) << "  (" << id.misc_status_names << ")\n";
    out << "Toolbox       bitmap " << id.toolbox_bitmap_id << ", 16 x 15\n\n";

    out << pad("Member", 13) << pad("Kind", 14) << pad("Dispid", 12) << pad("Arguments", 18)
        << "Result\n";
    for (const MemberInfo& m : members()) {
        out << pad(m.name, 13) << pad(member_kind_name(m.kind), 14)
            << pad(dispid_text(m.dispid), 12) << pad(m.arguments, 18) << m.result << "\n";
    }
    out << pad(id.event_name, 13) << pad("event", 14) << pad(dispid_text(id.event_dispid), 12)
        << pad("none", 18) << "none\n";
    return out.str();
}

}  // namespace strovia::cli
