#pragma once
// Every command string the control sends through the media channel, built
// in this one place.

#include <cstdint>
#include <string>
#include <string_view>

namespace strovia::commands {

inline constexpr std::string_view kCloseAll = "close all";
inline constexpr std::string_view kSetVideoFrames = "set video time format frames";
inline constexpr std::string_view kPlayVideo = "play video";
inline constexpr std::string_view kPauseVideo = "pause video";
inline constexpr std::string_view kPlaySound = "play sound";
inline constexpr std::string_view kPauseSound = "pause sound";
inline constexpr std::string_view kCloseSound = "close sound";
inline constexpr std::string_view kStatusSoundMode = "status sound mode";
inline constexpr std::string_view kStatusVideoPosition = "status video Position";
inline constexpr std::string_view kStatusVideoMode = "status video mode";

// The window handle in decimal, one blank before it when not negative.
std::string handle_text(std::int64_t handle);

// A file path as it goes into an open command: as it stands, or in double
// quotes when it holds a blank (an unquoted blank would end the path).
std::string path_token(std::string_view path);

// The files the control plays, as it forms their paths (backslashes,
// before any mapping to the file system).
std::string video_path(std::string_view resourcedir, std::string_view video_name);
std::string picture_path(std::string_view resourcedir, std::string_view image_name);
// From the content folder, or, for the name "mt" exactly, from the control
// library's own folder.
std::string narration_path(std::string_view resourcedir, std::string_view library_folder,
                           std::string_view mp2name);

// Opens the posture's video as a child of the window `handle`.
std::string video_open(std::string_view resourcedir, std::string_view video_name,
                       std::int64_t handle);

// Puts the video at `frame`, ready to play on from it.
std::string video_seek(std::int64_t frame);

// Opens a narration under the alias "Sound".
std::string narration_open(std::string_view resourcedir, std::string_view library_folder,
                           std::string_view mp2name);

}  // namespace strovia::commands
