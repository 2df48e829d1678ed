// SPDX-License-Identifier: MIT
// The programs' private runtime folder. Qt keeps sockets and locks in
// XDG_RUNTIME_DIR and, when the session has none (a console, a container,
// sudo, CI), prints a warning the user can do nothing about. The programs
// supply a folder before Qt starts; the library itself never touches the
// environment.
#pragma once

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace strovia::app {

// What Qt accepts: an absolute path to a folder of this user that only this
// user may enter.
inline bool usable_runtime_dir(const char* path) {
    struct stat st {};
    return path != nullptr && path[0] == '/' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

// A folder we made or made before: not a link, ours, and closed to others.
inline bool own_private_dir(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 07777) == 0700 || ::chmod(dir.c_str(), 0700) == 0;
}

// Room to write in `base`. GStreamer's code generator maps its buffers as
// files in XDG_RUNTIME_DIR; on a full file system the first write into such
// a mapping kills the process with SIGBUS, so a full folder is no runtime
// folder at all.
inline bool has_room(const std::string& base) {
    struct statvfs vfs {};
    constexpr unsigned long long kNeeded = 16ULL << 20;
    return ::statvfs(base.c_str(), &vfs) == 0 &&
           static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize >= kNeeded;
}

// Keeps a usable XDG_RUNTIME_DIR; otherwise points it at
// strovia-runtime-UID (mode 0700) in $TMPDIR, or /tmp when that has no room,
// made once and reused. Should that name belong to someone else, a fresh
// folder is made instead. Returns the folder in use, or an empty string when
// none could be made (Qt then falls back and says so, and the media use the
// home folder as they did before).
inline std::string supply_runtime_dir() {
    if (const char* given = std::getenv("XDG_RUNTIME_DIR"); usable_runtime_dir(given)) return given;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
    if (!has_room(base)) base = "/tmp";
    if (!has_room(base)) return {};
    std::string dir = base + "/strovia-runtime-" + std::to_string(::geteuid());
    if ((::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) || !own_private_dir(dir)) {
        std::string pattern = base + "/strovia-runtime-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) return {};
        dir = name.data();
    }
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    return dir;
}

}  // namespace strovia::app
