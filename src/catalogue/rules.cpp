#include "catalogue/rules.hpp"

namespace strovia::catalogue {

std::string catalogue_path(std::string_view resourcedir) {
    return std::string(resourcedir) + std::string(kCatalogueInContent);
}

std::string table_number(const FieldValue& asana_id) {
    auto text = field_as_text(asana_id);
    return text ? *text : std::string();
}

std::string segment_table(const FieldValue& asana_id) {
    return std::string(kSegmentTablePrefix) + table_number(asana_id);
}

std::string photo_table(const FieldValue& asana_id) {
    return std::string(kPhotoTablePrefix) + table_number(asana_id);
}

std::string posture_lookup(std::string_view name) {
    std::string literal;
    for (char c : name) {
        literal += c;
        if (c == '"') literal += '"';
    }
    return "select * from " + std::string(kPostureTable) + " where " + std::string(field::kName) +
           " = \"" + literal + "\"";
}

std::string all_postures() { return "select * from " + std::string(kPostureTable); }

std::string segment_rows(const FieldValue& asana_id) {
    return "select * from " + segment_table(asana_id);
}

std::string photo_rows(const FieldValue& asana_id) {
    return "select * from " + photo_table(asana_id);
}

bool opens_as_video(const FieldValue& disp_type) {
    const auto* text = std::get_if<std::string>(&disp_type);
    return text && *text == kVideoType;
}

bool previews_as_photo(std::string_view disp_type_text) {
    std::string upper(disp_type_text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper == "PHOTO";
}

Shows file_open_shows(const Result<FieldValue>& disp_type) {
    return disp_type && opens_as_video(*disp_type) ? Shows::Video : Shows::Photo;
}

Result<Shows> preview_shows(const Result<FieldValue>& disp_type) {
    if (!disp_type) return disp_type.error();
    auto text = field_as_text(*disp_type);
    if (!text) return text.error();
    return previews_as_photo(*text) ? Shows::Photo : Shows::Video;
}

}  // namespace strovia::catalogue
