#pragma once
// A course catalogue's tables as the writer's manifest holds them, for
// tests that build one (directly, or through `strovia catalogue build`).
// Rows are a JSON array of arrays; mind that a braced list of two-element
// lists starting with a string makes an object, not rows.

#include <nlohmann/json.hpp>

#include <string>

namespace strovia::test::tables {

using nlohmann::json;

inline json column(const char* name, const char* type, int size = 0) {
    json c{{"name", name}, {"type", type}};
    if (size > 0) c["size"] = size;
    return c;
}
inline json table(std::string name, json columns, json rows) {
    return {{"name", std::move(name)}, {"columns", std::move(columns)}, {"rows", std::move(rows)}};
}
// AsanaID, name, Disp_Type, VideoName.
inline json asanas(json rows) {
    return table("Asanas",
                 json::array({column("AsanaID", "Long"), column("name", "Text", 50),
                              column("Disp_Type", "Text", 10), column("VideoName", "Text", 50)}),
                 std::move(rows));
}
// Filename, Action, StartPos, EndPos, Filelen.
inline json segments(int id, json rows) {
    return table("Audio_Asana" + std::to_string(id),
                 json::array({column("Filename", "Text", 50), column("Action", "Text", 50),
                              column("StartPos", "Integer"), column("EndPos", "Integer"),
                              column("Filelen", "Double")}),
                 std::move(rows));
}
// Mp2name, ImageName.
inline json photos(int id, json rows) {
    return table("Photo_Asana" + std::to_string(id),
                 json::array({column("Mp2name", "Text", 50), column("ImageName", "Text", 50)}),
                 std::move(rows));
}

}  // namespace strovia::test::tables
