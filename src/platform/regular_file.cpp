#include "platform/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace strovia::platform {

std::string file_kind(unsigned mode) {
    switch (mode & S_IFMT) {
        case S_IFREG: return "a file";
        case S_IFDIR: return "a folder";
        case S_IFIFO: return "a FIFO";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        case S_IFSOCK: return "a socket";
        default: return "not a file";
    }
}

RegularFile RegularFile::open(const std::string& path) {
    RegularFile f;
    auto refuse = [&](Problem p, std::string why) {
        f.problem_ = p;
        f.why_ = std::move(why);
        return std::move(f);
    };
    // Asked first, so that a FIFO or a device is never opened at all.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR) return refuse(Problem::kMissing, path + " does not exist");
        return refuse(Problem::kUnreadable, path + " cannot be read: " + std::strerror(e));
    }
    auto not_regular = [&](const struct stat& s) {
        return refuse(S_ISDIR(s.st_mode) ? Problem::kFolder : Problem::kNotRegular,
                      path + " is " + file_kind(s.st_mode) + ", not a file");
    };
    if (!S_ISREG(st.st_mode)) return not_regular(st);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return refuse(Problem::kUnreadable, path + " cannot be read: " + std::strerror(errno));
    }
    // What was opened is what counts: the path may have changed in between.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return not_regular(st);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    f.fd_ = fd;
    f.size_ = static_cast<long long>(st.st_size);
    return f;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(other.size_),
      problem_(other.problem_),
      why_(std::move(other.why_)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        problem_ = other.problem_;
        why_ = std::move(other.why_);
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) ::close(fd_);
}

int RegularFile::release() { return std::exchange(fd_, -1); }

}  // namespace strovia::platform
