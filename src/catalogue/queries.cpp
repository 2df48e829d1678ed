#include "catalogue/queries.hpp"

namespace strovia::catalogue {
namespace {

std::string id_text(const FieldValue& id) {
    auto text = field_as_text(id);
    return text ? *text : std::string();
}

}  // namespace

std::string catalogue_path(std::string_view resourcedir) {
    return std::string(resourcedir) + "\\video\\AVPelmo.mdb";
}

std::string posture_lookup(std::string_view name) {
    std::string literal;
    for (char c : name) {
        literal += c;
        if (c == '"') literal += '"';
    }
    return "select * from Asanas where name = \"" + literal + "\"";
}

std::string segment_rows(const FieldValue& asana_id) {
    return "select * from Audio_Asana" + id_text(asana_id);
}

std::string photo_rows(const FieldValue& asana_id) {
    return "select * from Photo_Asana" + id_text(asana_id);
}

}  // namespace strovia::catalogue
