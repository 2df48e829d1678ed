#pragma once
// Opening a file a course names. Course content can hold anything a file
// system holds: a FIFO or a device opened for reading waits for a writer
// for ever, and whoever opened it (the user-interface thread) with it. Such
// paths are refused before anything opens them, and the one open made is
// non-blocking, so a path swapped for a FIFO meanwhile cannot block either.

#include <string>

namespace strovia::platform {

class RegularFile {
public:
    enum class Problem { kNone, kMissing, kFolder, kNotRegular, kUnreadable };

    // Opens `path` (a path of this file system, already mapped) for reading
    // when it is a regular file, or a link to one. Never blocks on what the
    // path turns out to be.
    static RegularFile open(const std::string& path);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    bool ok() const { return fd_ >= 0; }
    // The open descriptor (read only, close-on-exec, blocking again); -1
    // when refused. Owned until release().
    int fd() const { return fd_; }
    int release();
    long long size() const { return size_; }

    Problem problem() const { return problem_; }
    // Plain words naming the path, e.g. "/c/video/a.mpg is a FIFO, not a
    // file"; empty when opened.
    const std::string& why() const { return why_; }

private:
    RegularFile() = default;
    int fd_ = -1;
    long long size_ = 0;
    Problem problem_ = Problem::kNone;
    std::string why_;
};

// The kind of a non-regular file in words ("a FIFO", "a folder", "a
// character device", ...), or "a file" for a regular one.
std::string file_kind(unsigned mode);

}  // namespace strovia::platform
