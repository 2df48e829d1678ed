#include "playback/commands.hpp"

namespace strovia::commands {

std::string handle_text(std::int64_t handle) {
    return (handle < 0 ? "" : " ") + std::to_string(handle);
}

std::string path_token(std::string_view path) {
    if (path.find(' ') == std::string_view::npos) return std::string(path);
    return "\"" + std::string(path) + "\"";
}

std::string video_path(std::string_view resourcedir, std::string_view video_name) {
    return std::string(resourcedir) + "\\video\\" + std::string(video_name);
}

std::string picture_path(std::string_view resourcedir, std::string_view image_name) {
    return video_path(resourcedir, image_name);
}

std::string narration_path(std::string_view resourcedir, std::string_view library_folder,
                           std::string_view mp2name) {
    const std::string base =
        mp2name == "mt" ? std::string(library_folder) + "\\" + std::string(mp2name)
                        : std::string(resourcedir) + "\\sound\\mp2\\" + std::string(mp2name);
    return base + ".mp2";
}

std::string video_open(std::string_view resourcedir, std::string_view video_name,
                       std::int64_t handle) {
    return "open " + path_token(video_path(resourcedir, video_name)) +
           "  alias video type mpegVideo  style child parent " + handle_text(handle);
}

std::string narration_open(std::string_view resourcedir, std::string_view library_folder,
                           std::string_view mp2name) {
    return "open " + path_token(narration_path(resourcedir, library_folder, mp2name)) +
           " alias Sound type mpegVideo";
}

std::string video_seek(std::int64_t frame) { return "seek video to " + std::to_string(frame); }

}  // namespace strovia::commands
