#include "export/scorm.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <tuple>

#include "export/render.hpp"

namespace strovia::exporting {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kPackageFault = 9210;

// Titles are xsd strings of at most 200 characters.
constexpr std::size_t kTitleChars = 200;

// Text as XML character data or attribute value: well-formed UTF-8 whatever
// the folder or catalogue held (a broken sequence becomes U+FFFD), markup
// characters as entities, and the control characters XML 1.0 forbids as
// spaces. At most `limit` characters.
std::string xml_text(const std::string& text,
                     std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size() && chars < limit; ++chars) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&apos;"; break;
                default: out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') ? ' ' : text[i];
            }
            ++i;
            continue;
        }
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool good = length > 0 && c <= 0xF4 && i + length <= text.size();
        std::uint32_t code = c & (0x7F >> length);
        for (std::size_t k = 1; good && k < length; ++k) {
            const auto more = static_cast<unsigned char>(text[i + k]);
            good = (more & 0xC0) == 0x80;
            code = code << 6 | (more & 0x3F);
        }
        // Overlong forms, surrogates and the two non-characters XML refuses.
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        good = good && code >= least[length] && (code < 0xD800 || code > 0xDFFF) &&
               code <= 0x10FFFF && code != 0xFFFE && code != 0xFFFF;
        if (good) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// CRC-32 as zip files carry it, continued from `crc`.
std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8 & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// DOS date and time, in local time as zip tools read them; 1980 at the
// earliest.
std::pair<std::uint16_t, std::uint16_t> dos_time(std::time_t when) {
    std::tm t{};
    if (localtime_r(&when, &t) == nullptr || t.tm_year < 80) return {0, (0 << 9) | (1 << 5) | 1};
    return {static_cast<std::uint16_t>(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2),
            static_cast<std::uint16_t>((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday)};
}

struct Entry {
    std::string name;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
    std::uint16_t time = 0, date = 0;
    bool utf8 = false;
};

// Local and central headers share their middle.
std::string common_fields(const Entry& e) {
    std::string out;
    put16(out, 20);                     // version needed: 2.0
    put16(out, e.utf8 ? 1u << 11 : 0);  // the name is UTF-8
    put16(out, 0);                      // stored
    put16(out, e.time);
    put16(out, e.date);
    put32(out, e.crc);
    put32(out, e.size);
    put32(out, e.size);
    put16(out, static_cast<std::uint32_t>(e.name.size()));
    put16(out, 0);  // no extra field
    return out;
}

class ZipFile {
public:
    explicit ZipFile(std::string path) : path_(std::move(path)) {
        file_ = std::fopen(path_.c_str(), "wb");
    }
    ~ZipFile() {
        if (file_) std::fclose(file_);
    }
    ZipFile(const ZipFile&) = delete;
    ZipFile& operator=(const ZipFile&) = delete;

    bool open() const { return file_ != nullptr; }
    std::uint64_t offset() const { return offset_; }
    bool write(const void* data, std::size_t size) {
        if (std::fwrite(data, 1, size, file_) != size) return false;
        offset_ += size;
        return true;
    }
    bool write(const std::string& s) { return write(s.data(), s.size()); }
    // Rewrites bytes already written, then goes on at the end.
    bool patch(std::uint64_t at, const std::string& s) {
        return ::fseeko(file_, static_cast<off_t>(at), SEEK_SET) == 0 &&
               std::fwrite(s.data(), 1, s.size(), file_) == s.size() &&
               ::fseeko(file_, 0, SEEK_END) == 0;
    }
    bool close() {
        const bool ok = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok && closed;
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::uint64_t offset_ = 0;
};

Status write_whole(const fs::path& path, const std::string& text) {
    const fs::path temp = temp_beside(path.string(), "part");
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(temp, path, ec);
    if (!ok || ec) {
        const std::string why = ec ? ec.message() : std::strerror(errno);
        fs::remove(temp, ec);
        return Error{kPackageFault, "cannot write " + path.string() + ": " + why};
    }
    return {};
}

}  // namespace

// Kept in the package as a file of its own, so the page stays the same
// with or without a platform.
std::string scorm_script() {
    return R"JS(// Reports the course page to a learning platform's SCORM 1.2 runtime: the
// postures played, where the learner is, the time spent. It only listens to
// what the page announces; without a runtime it does nothing at all.
(() => {
  "use strict";
  // Frames and windows of another origin throw on access: they hold no
  // runtime we could use.
  const apiOf = w => { try { return w.API || null; } catch (e) { return null; } };
  const search = w => {
    for (let hops = 0; w && hops < 10; hops++) {
      const api = apiOf(w);
      if (api) return api;
      if (w.parent === w) break;
      w = w.parent;
    }
    return null;
  };
  const started = Date.now();
  let api = null, open = false, finished = false;
  let playable = [], played = new Set(), done = false, place = "";

  const call = (name, ...args) => {
    if (!open) return "";
    try { return String(api[name](...args)); } catch (e) { return ""; }
  };
  const get = element => call("LMSGetValue", element);
  const set = (element, value) => call("LMSSetValue", element, value);
  const pad = (n, width) => String(n).padStart(width, "0");
  // CMITimespan, HHHH:MM:SS.SS; four digits of hours at most.
  const timespan = ms => {
    const cs = Math.min(Math.round(ms / 10), 9999 * 360000 + 359999);
    return pad(Math.floor(cs / 360000), 4) + ":" + pad(Math.floor(cs / 6000) % 60, 2) + ":" +
           pad(Math.floor(cs / 100) % 60, 2) + "." + pad(cs % 100, 2);
  };
  // The postures played, as a bit string in hex after "p:", posture 0 in
  // the lowest bit of the first digit: a thousand postures take 252
  // characters, and it is cut short before the runtime's 4096.
  const encode = () => {
    let hex = "";
    const bits = Math.min(playable.length ? playable[playable.length - 1] + 1 : 0, 4094 * 4);
    for (let d = 0; d * 4 < bits; d++) {
      let v = 0;
      for (let b = 0; b < 4; b++) if (played.has(d * 4 + b)) v |= 1 << b;
      hex += v.toString(16);
    }
    return "p:" + hex;
  };
  const decode = text => {
    const m = /^p:([0-9a-f]*)$/.exec(text);
    if (!m) return;
    [...m[1]].forEach((digit, d) => {
      for (let b = 0; b < 4; b++) if (parseInt(digit, 16) & 1 << b) played.add(d * 4 + b);
    });
  };
  // "posture.segment", both counted from 1.
  const where = (index, segment) => (index + 1) + "." + (segment + 1);

  const finish = () => {
    if (!open || finished) return;
    finished = true;
    set("cmi.core.session_time", timespan(Date.now() - started));
    set("cmi.core.exit", done ? "" : "suspend");
    call("LMSFinish", "");
    open = false;
  };

  document.addEventListener("strovia:ready", event => {
    api = search(window) || (window.opener ? search(window.opener) : null);
    if (!api || typeof api.LMSInitialize !== "function") return;
    open = true;
    if (call("LMSInitialize", "") !== "true") { open = false; return; }
    playable = event.detail.playable;  // ascending
    const status = get("cmi.core.lesson_status");
    done = status === "completed" || status === "passed";
    decode(get("cmi.suspend_data"));
    if (!done) set("cmi.core.lesson_status", "incomplete");
    if (get("cmi.core.entry") === "resume") {
      place = get("cmi.core.lesson_location");
      const at = /^(\d+)\.\d+$/.exec(place);
      const index = at ? Number(at[1]) - 1 : -1;
      if (playable.includes(index) && typeof window.stroviaStartAt === "function") {
        window.stroviaStartAt(index);
      }
    }
  });
  const locate = text => {
    if (text !== place) set("cmi.core.lesson_location", place = text);
  };
  const located = event => locate(where(event.detail.index, event.detail.segment));
  document.addEventListener("strovia:posturestart", located);
  document.addEventListener("strovia:segment", located);
  document.addEventListener("strovia:postureend", event => {
    if (!open) return;
    const index = event.detail.index;
    played.add(index);
    // A learner who leaves now comes back to the posture after this one.
    const next = playable.find(i => i > index && !played.has(i)) ??
                 playable.find(i => !played.has(i)) ?? playable[0];
    locate(where(next, 0));
    set("cmi.suspend_data", encode());
    const all = playable.every(i => played.has(i));
    const completing = all && !done;
    if (completing) {
      done = true;
      set("cmi.core.lesson_status", "completed");
    }
    call("LMSCommit", "");
    // The end: the course completed now, or its last posture played again.
    if (completing || (all && index === playable[playable.length - 1])) finish();
  });
  window.addEventListener("pagehide", finish);
  window.addEventListener("beforeunload", finish);
})();
)JS";
}

std::string scorm_manifest(const std::string& title, const std::string& launch,
                           const std::vector<std::string>& files) {
    const std::string name = xml_text(title, kTitleChars);
    char id[16];
    std::snprintf(id, sizeof id, "%08x", crc32(0, title.data(), title.size()));
    std::string x = R"(<?xml version="1.0" encoding="UTF-8"?>
<manifest identifier="course-)" +
                    std::string(id) +
                    R"(" version="1"
          xmlns="http://www.imsproject.org/xsd/imscp_rootv1p1p2"
          xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2">
  <metadata>
    <schema>ADL SCORM</schema>
    <schemaversion>1.2</schemaversion>
  </metadata>
  <organizations default="course">
    <organization identifier="course">
      <title>)" + name +
                    R"(</title>
      <item identifier="course-item" identifierref="course-page" isvisible="true">
        <title>)" + name +
                    R"(</title>
      </item>
    </organization>
  </organizations>
  <resources>
    <resource identifier="course-page" type="webcontent" adlcp:scormtype="sco" href=")" +
                    xml_text(launch) + R"(">
)";
    for (const auto& f : files) x += "      <file href=\"" + xml_text(f) + "\"/>\n";
    x += "    </resource>\n  </resources>\n</manifest>\n";
    return x;
}

std::string package_path(const std::string& out) {
    std::error_code ec;
    fs::path folder = fs::absolute(out, ec).lexically_normal();
    if (folder.filename().empty()) folder = folder.parent_path();  // a trailing separator
    return folder.string() + ".zip";
}

Status write_zip(const std::string& folder, const std::vector<std::string>& files,
                 const std::string& zip, const std::atomic<bool>& cancel) {
    if (files.size() > 0xFFFF) {
        return Error{kPackageFault,
                     "a package holds at most 65535 files, not " + std::to_string(files.size())};
    }
    struct Cleanup {
        std::string path;
        bool keep = false;
        ~Cleanup() {
            std::error_code ec;
            if (!keep) fs::remove(path, ec);
        }
    } cleanup{temp_beside(zip, "part")};
    ZipFile out(cleanup.path);
    auto failed = [&](const std::string& what) {
        return Error{kPackageFault, "cannot write " + zip + ": " + what};
    };
    if (!out.open()) return failed(std::strerror(errno));

    // Past 4 GiB the offsets and sizes of a plain zip overflow.
    auto too_big = [&] {
        return Error{kPackageFault, zip +
                                        ": the package would be larger than 4 GiB, more than a "
                                        "zip without extensions holds; export fewer postures "
                                        "or a smaller --size"};
    };
    constexpr std::uint64_t kLimit = 0xFFFFFFFFu;
    std::vector<Entry> entries;
    std::vector<char> buffer(1 << 16);
    for (const auto& name : files) {
        if (cancel) return Error{kPackageFault, "interrupted"};
        const fs::path path = fs::path(folder) / name;
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in)
            return Error{kPackageFault,
                         "cannot read " + path.string() + ": " + std::strerror(errno)};
        struct Closer {
            std::FILE* f;
            ~Closer() { std::fclose(f); }
        } closer{in};
        struct stat st {};
        if (::fstat(::fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
            return Error{kPackageFault, path.string() + " is not a regular file"};
        }
        if (out.offset() + 30 + name.size() + static_cast<std::uint64_t>(st.st_size) > kLimit) {
            return too_big();
        }
        Entry e;
        e.name = name;
        e.offset = static_cast<std::uint32_t>(out.offset());
        e.utf8 = std::any_of(name.begin(), name.end(),
                             [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        std::tie(e.time, e.date) = dos_time(st.st_mtime);
        // Sizes and CRC are known once the data is through: the header is
        // written first and mended after, so the entry needs no descriptor.
        auto header = [&] {
            std::string h;
            put32(h, 0x04034b50);
            h += common_fields(e);
            h += e.name;
            return h;
        };
        if (!out.write(header())) return failed(std::strerror(errno));
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
        while (std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in)) {
            if (cancel) return Error{kPackageFault, "interrupted"};
            size += got;
            if (out.offset() + got > kLimit) return too_big();
            crc = crc32(crc, buffer.data(), got);
            if (!out.write(buffer.data(), got)) return failed(std::strerror(errno));
        }
        if (std::ferror(in)) {
            return Error{kPackageFault,
                         "cannot read " + path.string() + ": " + std::strerror(errno)};
        }
        e.size = static_cast<std::uint32_t>(size);
        e.crc = crc;
        if (!out.patch(e.offset, header())) return failed(std::strerror(errno));
        entries.push_back(std::move(e));
    }

    const std::uint64_t directory = out.offset();
    std::string central;
    for (const auto& e : entries) {
        put32(central, 0x02014b50);
        put16(central, 3 << 8 | 20);  // made on Unix by zip 2.0: the mode below counts
        central += common_fields(e);
        put16(central, 0);               // no comment
        put16(central, 0);               // disk
        put16(central, 0);               // internal attributes
        put32(central, 0100644u << 16);  // a plain file, readable by all
        put32(central, e.offset);
        central += e.name;
    }
    if (directory + central.size() + 22 > kLimit) return too_big();
    std::string end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<std::uint32_t>(entries.size()));
    put16(end, static_cast<std::uint32_t>(entries.size()));
    put32(end, static_cast<std::uint32_t>(central.size()));
    put32(end, static_cast<std::uint32_t>(directory));
    put16(end, 0);
    if (!out.write(central) || !out.write(end) || !out.close()) {
        return failed(std::strerror(errno));
    }
    if (cancel) return Error{kPackageFault, "interrupted"};
    std::error_code ec;
    fs::rename(cleanup.path, zip, ec);
    if (ec) return failed(ec.message());
    cleanup.keep = true;
    return {};
}

Status write_scorm_package(const std::string& out, const std::string& title,
                           const std::vector<PageEntry>& entries, const std::atomic<bool>& cancel) {
    std::vector<std::string> files{"index.html", kScormScript};
    for (const auto& e : entries) {
        if (e.file.empty()) continue;
        files.push_back(e.file);
        if (!e.chapters.empty()) files.push_back(e.chapters);
    }
    if (files.size() == 2) {
        return Error{kPackageFault, "no package was made: not one posture was exported"};
    }
    const fs::path folder(out);
    if (auto s = write_whole(folder / kScormScript, scorm_script()); !s) return s;
    if (auto s =
            write_whole(folder / "imsmanifest.xml", scorm_manifest(title, "index.html", files));
        !s) {
        return s;
    }
    files.insert(files.begin(), "imsmanifest.xml");
    return write_zip(out, files, package_path(out), cancel);
}

}  // namespace strovia::exporting
