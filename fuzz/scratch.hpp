// A file the engine can open by path whose bytes live in memory: the
// targets write every input to it, so a full or slow disk is never taken
// for a finding, and nothing is left behind when a run is killed.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class ScratchFile {
public:
    ScratchFile() : fd_(::memfd_create("strovia-fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) fail("memfd_create");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }

    void replace(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0) fail("ftruncate");
        for (std::size_t done = 0; done < size;) {
            ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) fail("pwrite");
            done += static_cast<std::size_t>(n);
        }
    }

private:
    // The machine failed, not the code under test: say so before stopping.
    [[noreturn]] static void fail(const char* what) {
        std::perror(what);
        std::_Exit(3);
    }
    int fd_;
    std::string path_;
};
