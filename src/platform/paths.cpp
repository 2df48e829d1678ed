#include "platform/paths.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <utf8proc.h>

namespace strovia::platform {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::string fold_case(std::string_view s) {
    utf8proc_uint8_t* out = nullptr;
    const auto n = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
        static_cast<utf8proc_ssize_t>(s.size()), &out,
        static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_COMPOSE | UTF8PROC_STABLE));
    if (n < 0) return std::string(s);
    std::string folded(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
    std::free(out);
    return folded;
}

namespace {

bool exists_no_follow_errors(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

// The one entry of `dir` matching `name` without regard to case, if exactly one.
std::string unique_case_match(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
    if (ec) return {};
    const std::string want = fold_case(name);
    std::string found;
    int matches = 0;
    for (const auto& entry : it) {
        std::string candidate = entry.path().filename().string();
        if (fold_case(candidate) == want) {
            found = std::move(candidate);
            if (++matches > 1) return {};
        }
    }
    return matches == 1 ? found : std::string();
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a == b || fold_case(a) == fold_case(b);
}

std::string map_path(std::string_view formed) {
    std::string path(formed);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    // Split into components, keeping empty ones (doubled separators stay).
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? slash : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }

    std::string result;
    fs::path sofar;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string part = parts[i];
        if (i > 0) result += '/';
        if (!part.empty() && part != "." && part != "..") {
            const fs::path exact = sofar / part;
            if (!exists_no_follow_errors(exact)) {
                std::string match = unique_case_match(sofar, part);
                if (!match.empty()) part = std::move(match);
            }
        }
        result += part;
        sofar = fs::path(result.empty() ? "/" : result);
    }
    return result;
}

}  // namespace strovia::platform
