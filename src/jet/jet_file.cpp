#include "jet/jet_file.hpp"

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <utility>

// libmdb's header needs glib's types declared first.
#include <glib.h>
// clang-format off
#include <mdbtools.h>
// clang-format on

#include "catalogue/engine.hpp"
#include "jet/fold.hpp"
#include "jet/format.hpp"
#include "platform/paths.hpp"

namespace strovia::jet {

// One held flock per file (device and inode) in this process; openings of
// the same file share it, so a reopening here never trips over our own lock.
class LockHolder {
public:
    LockHolder(int fd, dev_t dev, ino_t ino) : fd_(fd), key_(dev, ino), owner_(::getpid()) {}
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    int fd() const { return fd_; }
    // A forked child inherits the registry but not the right to the lock.
    bool ours() const { return owner_ == ::getpid(); }

private:
    int fd_;
    std::pair<dev_t, ino_t> key_;
    pid_t owner_;
};

namespace {

using engine_error::kFileInUse;
using engine_error::kFileNotFound;
using engine_error::kInvalidPassword;
using engine_error::kPermissionDenied;
using engine_error::kUnrecognizedFormat;

std::map<std::pair<dev_t, ino_t>, std::weak_ptr<LockHolder>>& held_files() {
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<LockHolder>> held;
    return held;
}

// What identifies one state of a file: any write changes the change time.
struct FileStamp {
    dev_t dev;
    ino_t ino;
    off_t size;
    std::int64_t mtime_ns;
    std::int64_t ctime_ns;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp stamp_of(const struct stat& st) {
    auto ns = [](const timespec& t) { return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
    return {st.st_dev, st.st_ino, st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
}

// The last file read and checked, kept for the process's life: the control
// opens the same catalogue for every posture, and reading and checking a
// large one is most of an opening. Lock and password are still taken on
// every opening. File times tick coarsely (a few milliseconds; seconds on
// some file systems), so a file changed shortly before it was read could
// change again without a new stamp: such a file is not kept.
constexpr std::int64_t kSettledNs = 2'000'000'000;
struct CheckedFile {
    FileStamp stamp;
    int version;
    std::shared_ptr<const std::vector<TableData>> tables;
};
std::optional<CheckedFile>& last_checked() {
    static std::optional<CheckedFile> last;
    return last;
}

Error unrecognized(const std::string& shown, const std::string& why) {
    return Error{kUnrecognizedFormat,
                 "Unrecognized database format '" + shown + "' (" + why + ")."};
}

// Keeps libmdb from printing on the host's standard streams and from
// reading the environment variables that would change how it decodes.
class QuietLibmdb {
public:
    QuietLibmdb() {
        std::fflush(stdout);
        std::fflush(stderr);
        int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null_fd >= 0) {
            saved_out_ = ::dup(STDOUT_FILENO);
            saved_err_ = ::dup(STDERR_FILENO);
            if (saved_out_ >= 0) ::dup2(null_fd, STDOUT_FILENO);
            if (saved_err_ >= 0) ::dup2(null_fd, STDERR_FILENO);
            ::close(null_fd);
        }
        for (std::size_t i = 0; i < kVars.size(); ++i) {
            if (const char* v = std::getenv(kVars[i])) {
                saved_env_[i] = std::string(v);
                ::unsetenv(kVars[i]);
            }
        }
    }
    ~QuietLibmdb() {
        std::fflush(stdout);
        std::fflush(stderr);
        if (saved_out_ >= 0) {
            ::dup2(saved_out_, STDOUT_FILENO);
            ::close(saved_out_);
        }
        if (saved_err_ >= 0) {
            ::dup2(saved_err_, STDERR_FILENO);
            ::close(saved_err_);
        }
        for (std::size_t i = 0; i < kVars.size(); ++i)
            if (saved_env_[i]) ::setenv(kVars[i], saved_env_[i]->c_str(), 1);
    }
    QuietLibmdb(const QuietLibmdb&) = delete;
    QuietLibmdb& operator=(const QuietLibmdb&) = delete;

private:
    static constexpr std::array<const char*, 4> kVars = {"MDBPATH", "MDBOPTS", "MDBICONV",
                                                         "MDB_JET3_CHARSET"};
    int saved_out_ = -1;
    int saved_err_ = -1;
    std::array<std::optional<std::string>, 4> saved_env_;
};

struct MdbCloser {
    void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableCloser {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TablePtr = std::unique_ptr<MdbTableDef, TableCloser>;

// Text of the file's code page as UTF-8.
std::optional<std::string> code_page_to_utf8(std::string_view bytes, unsigned code_page) {
    if (code_page == 0 || code_page == kCodePage1252) return cp1252_to_utf8(bytes);
    std::string name = "CP" + std::to_string(code_page);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(bytes.size() * 4 + 4, '\0');
    std::string in(bytes);
    char* ip = in.data();
    std::size_t il = in.size();
    char* op = out.data();
    std::size_t ol = out.size();
    std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - ol);
    return out;
}

class Reader {
public:
    Reader(std::vector<std::uint8_t> bytes, std::string shown)
        : bytes_(std::move(bytes)), shown_(std::move(shown)) {}

    Result<std::vector<TableData>> read(std::string_view password);
    int version() const { return version_; }
    // The password alone, for a file already read and checked: the bytes
    // are its definition page.
    Status recheck_password(int version, std::string_view password) {
        version_ = version;
        page_size_ = bytes_.size();
        return check_password(password);
    }

private:
    Status check_header();
    Status check_password(std::string_view password);
    Status check_tdef_chain(std::uint32_t page);
    Result<TablePtr> load_table(std::uint32_t page, const std::string& name);
    Result<TableData> decode_rows(MdbTableDef* table, const std::string& name);
    Result<FieldValue> decode_value(const MdbColumn& col, const MdbField& f) const;
    Result<std::string> text(std::string_view raw) const;
    Result<std::string> memo(const std::uint8_t* p, std::size_t len) const;
    Result<std::string_view> lval_row(std::uint32_t pg_row) const;
    std::size_t page_count() const { return bytes_.size() / page_size_; }
    Error damaged(const std::string& why) const { return unrecognized(shown_, why); }

    std::vector<std::uint8_t> bytes_;
    std::string shown_;
    int version_ = 0;
    std::size_t page_size_ = kJet3PageSize;
    unsigned code_page_ = kCodePage1252;
    MdbPtr mdb_;
    std::deque<MdbCatalogEntry> entries_;  // libmdb keeps pointers to them
    std::vector<std::uint32_t> seen_;
    std::uint32_t walk_ = 0;
};

Status Reader::check_header() {
    if (bytes_.size() < kJet3PageSize) return damaged("shorter than one page");
    if (std::memcmp(bytes_.data() + kSignatureOffset, kSignature.data(), kSignature.size()) != 0)
        return damaged("no Jet signature");
    version_ = bytes_[kVersionOffset];
    if (version_ > 1) return damaged("Jet version " + std::to_string(version_) + " not supported");
    page_size_ = version_ == 0 ? kJet3PageSize : kJet4PageSize;
    if (bytes_.size() % page_size_ != 0) return damaged("not a whole number of pages");
    if (page_count() < 3) return damaged("too few pages for a system table");
    return {};
}

Status Reader::check_password(std::string_view password) {
    std::vector<std::uint8_t> page(bytes_.begin(),
                                   bytes_.begin() + static_cast<std::ptrdiff_t>(page_size_));
    code_definition_page(page, version_);
    code_page_ = get16(&page[kCodePageOffset]);
    std::vector<std::uint8_t> stored;
    std::vector<std::uint8_t> given;
    if (version_ == 0) {
        stored.assign(page.begin() + kPasswordOffset, page.begin() + kPasswordOffset + 20);
        auto encoded = utf8_to_cp1252(password);
        if (!encoded || encoded->size() > 20) encoded = std::string(21, '\x01');
        given.assign(encoded->begin(), encoded->end());
        given.resize(std::max<std::size_t>(given.size(), 20), 0);
    } else {
        // Jet 4 masks the 20 UTF-16 units with the whole-day part of the
        // creation date, four bytes repeated.
        stored.assign(page.begin() + kPasswordOffset, page.begin() + kPasswordOffset + 40);
        double created = 0;
        std::memcpy(&created, &page[kCreationDateOffset], sizeof created);
        auto day = (std::isfinite(created) && std::fabs(created) < 2e9)
                       ? static_cast<std::int32_t>(created)
                       : 0;
        std::array<std::uint8_t, 4> mask{};
        for (std::size_t i = 0; i < 4; ++i)
            mask[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(day) >> (8 * i));
        for (std::size_t i = 0; i < stored.size(); ++i) stored[i] ^= mask[i % 4];
        std::string utf8(password);
        // UTF-8 to UTF-16LE, BMP only (a password has no astral characters).
        std::u32string cps;
        for (std::size_t i = 0; i < utf8.size();) {
            auto b = static_cast<unsigned char>(utf8[i]);
            int n = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
            char32_t c = n == 0 ? b : (b & (0x3F >> n));
            for (int k = 1; k <= n && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
                c = (c << 6) |
                    (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
            i += static_cast<std::size_t>(n) + 1;
            cps += c;
        }
        for (char32_t c : cps) {
            given.push_back(static_cast<std::uint8_t>(c & 0xFF));
            given.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
        }
        given.resize(std::max<std::size_t>(given.size(), 40), 0);
    }
    bool no_password = std::all_of(stored.begin(), stored.end(), [](auto b) { return b == 0; });
    if (no_password) return {};
    if (given != stored) return Error{kInvalidPassword, "Not a valid password."};
    return {};
}

// The definition of a table may continue on further pages; each must be a
// definition page inside the file and the chain must not come back on itself.
Status Reader::check_tdef_chain(std::uint32_t page) {
    // Pages seen by this walk carry its number; one array for all walks.
    if (seen_.size() != page_count()) seen_.assign(page_count(), 0);
    ++walk_;
    for (std::uint32_t p = page; p != 0;) {
        if (p >= page_count()) return damaged("table definition outside the file");
        if (seen_[p] == walk_) return damaged("table definition pages form a loop");
        seen_[p] = walk_;
        const std::uint8_t* pg = bytes_.data() + static_cast<std::size_t>(p) * page_size_;
        if (pg[0] != 0x02) return damaged("page " + std::to_string(p) + " is no table definition");
        p = get32(pg + 4);
    }
    return {};
}

Result<TablePtr> Reader::load_table(std::uint32_t page, const std::string& name) {
    if (Status s = check_tdef_chain(page); !s) return s.error();
    MdbCatalogEntry& entry = entries_.emplace_back();
    entry.mdb = mdb_.get();
    std::snprintf(entry.object_name, sizeof entry.object_name, "%s", name.c_str());
    entry.object_type = MDB_TABLE;
    entry.table_pg = page;
    TablePtr table(mdb_read_table(&entry));
    if (table) {
        if (table->num_cols > kMaxColumns)
            return damaged("table '" + name + "' has too many columns");
        mdb_read_columns(table.get());
    }
    if (!table) return damaged("table '" + name + "' cannot be read");
    if (!table->usage_map || table->map_sz == 0)
        return damaged("table '" + name + "' has no page usage map");
    if (!table->columns || table->columns->len != table->num_cols)
        return damaged("table '" + name + "' has unreadable columns");
    return table;
}

Result<std::string> Reader::text(std::string_view raw) const {
    if (version_ == 1) return jet4_text_to_utf8(raw);
    auto t = code_page_to_utf8(raw, code_page_);
    if (!t) return damaged("text not in code page " + std::to_string(code_page_));
    return *t;
}

// A row of a long-value page, addressed by page (high 3 bytes) and row.
Result<std::string_view> Reader::lval_row(std::uint32_t pg_row) const {
    std::uint32_t pg = pg_row >> 8;
    std::uint32_t row = pg_row & 0xFF;
    if (pg == 0 || pg >= page_count()) return damaged("long value outside the file");
    const std::uint8_t* p = bytes_.data() + static_cast<std::size_t>(pg) * page_size_;
    const std::size_t rco = version_ == 0 ? 8 : 12;
    if (p[0] != 0x01) return damaged("long value on a page that holds no data");
    std::size_t nrows = get16(p + rco);
    if (row >= nrows || rco + 2 + 2 * nrows > page_size_) return damaged("long value row missing");
    std::size_t start = get16(p + rco + 2 + 2 * row) & 0x1FFF;
    std::size_t end = row == 0 ? page_size_ : (get16(p + rco + 2 * row) & 0x1FFF);
    if (start >= end || end > page_size_) return damaged("long value row out of its page");
    return std::string_view(reinterpret_cast<const char*>(p + start), end - start);
}

Result<std::string> Reader::memo(const std::uint8_t* p, std::size_t len) const {
    if (len < 12) return damaged("memo header cut short");
    std::uint32_t head = get32(p);
    std::size_t total = head & 0x3FFFFFFF;
    std::string raw;
    if (head & 0x80000000U) {
        if (12 + total > len) return damaged("memo longer than its row");
        raw.assign(reinterpret_cast<const char*>(p + 12), total);
    } else if (head & 0x40000000U) {
        auto r = lval_row(get32(p + 4));
        if (!r) return r.error();
        if (r->size() < total) return damaged("memo longer than its page");
        raw.assign(r->data(), total);
    } else {
        // A chain of long-value rows, each starting with the next address;
        // at most one visit per page keeps a damaged chain finite.
        std::uint32_t next = get32(p + 4);
        for (std::size_t hops = 0; raw.size() < total; ++hops) {
            if (hops > page_count()) return damaged("memo chain does not end");
            auto r = lval_row(next);
            if (!r) return r.error();
            if (r->size() < 4) return damaged("memo chain row cut short");
            next = get32(reinterpret_cast<const std::uint8_t*>(r->data()));
            raw.append(r->data() + 4, r->size() - 4);
            if (next == 0) break;
        }
        if (raw.size() < total) return damaged("memo chain shorter than its length");
        raw.resize(total);
    }
    return text(raw);
}

Result<FieldValue> Reader::decode_value(const MdbColumn& col, const MdbField& f) const {
    using namespace column_type;
    if (col.col_type == kBoolean) return FieldValue{!f.is_null};
    if (f.is_null) return FieldValue{Null{}};
    const auto* p = static_cast<const std::uint8_t*>(f.value);
    const auto n = static_cast<std::size_t>(f.siz);
    const std::uint8_t* page = mdb_->pg_buf;
    if (f.siz < 0 || p < page || p + n > page + page_size_)
        return damaged("value outside its page");
    auto need = [&](std::size_t k) { return n >= k; };
    switch (col.col_type) {
        case kByte:
            if (!need(1)) break;
            return FieldValue{std::int64_t{p[0]}};
        case kInteger:
            if (!need(2)) break;
            return FieldValue{std::int64_t{static_cast<std::int16_t>(get16(p))}};
        case kLong:
            if (!need(4)) break;
            return FieldValue{std::int64_t{static_cast<std::int32_t>(get32(p))}};
        case kCurrency: {
            if (!need(8)) break;
            std::int64_t v = 0;
            std::memcpy(&v, p, 8);
            return FieldValue{static_cast<double>(v) / 10000.0};
        }
        case kSingle: {
            if (!need(4)) break;
            float v = 0;
            std::memcpy(&v, p, 4);
            return FieldValue{static_cast<double>(v)};
        }
        case kDouble:
        case kDateTime: {
            if (!need(8)) break;
            double v = 0;
            std::memcpy(&v, p, 8);
            return FieldValue{v};
        }
        case kText: {
            auto t = text(std::string_view(reinterpret_cast<const char*>(p), n));
            if (!t) return t.error();
            return FieldValue{std::move(*t)};
        }
        case kMemo: {
            auto t = memo(p, n);
            if (!t) return t.error();
            return FieldValue{std::move(*t)};
        }
        // Binary values as stored; the column's type tells what they are.
        case kBinary: return FieldValue{std::string(reinterpret_cast<const char*>(p), n)};
        case kGuid:
            if (!need(16)) break;
            return FieldValue{std::string(reinterpret_cast<const char*>(p), 16)};
        case kOle: {
            // Gathered as a memo is, without the code page.
            if (n < kLongValueHeader) break;
            const std::uint32_t head = get32(p);
            const std::size_t total = head & kLongValueLengthMask;
            std::string raw;
            if (head & kLongValueInline) {
                if (kLongValueHeader + total > n) break;
                raw.assign(reinterpret_cast<const char*>(p + kLongValueHeader), total);
            } else if (head & kLongValueOneRow) {
                auto r = lval_row(get32(p + 4));
                if (!r) return r.error();
                if (r->size() < total) return damaged("long value longer than its page");
                raw.assign(r->data(), total);
            } else {
                std::uint32_t next = get32(p + 4);
                for (std::size_t hops = 0; raw.size() < total; ++hops) {
                    if (hops > page_count()) return damaged("long value chain does not end");
                    auto r = lval_row(next);
                    if (!r) return r.error();
                    if (r->size() < 4) return damaged("long value chain row cut short");
                    next = get32(reinterpret_cast<const std::uint8_t*>(r->data()));
                    raw.append(r->data() + 4, r->size() - 4);
                    if (next == 0) break;
                }
                if (raw.size() < total) return damaged("long value chain shorter than its length");
                raw.resize(total);
            }
            return FieldValue{std::move(raw)};
        }
        default: return FieldValue{Null{}};
    }
    return damaged(std::string("value of '") + col.name + "' cut short");
}

Result<TableData> Reader::decode_rows(MdbTableDef* table, const std::string& name) {
    TableData out;
    out.name = name;
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        // libmdb converts column names to UTF-8 itself (its default, since
        // QuietLibmdb hides the variables that would change it).
        out.columns.push_back(ColumnInfo{col->name, col->col_type, col->col_size});
    }
    // A table cannot hold more rows than its pages have offsets for.
    std::size_t owned_pages = page_count();
    const std::size_t cap = owned_pages * (page_size_ / 2);
    std::array<MdbField, 256> fields{};
    const std::size_t rco = version_ == 0 ? 8 : 12;
    {
        mdb_rewind_table(table);
        while (true) {
            int got = mdb_fetch_row(table);
            if (!got) break;
            if (out.rows.size() >= cap || out.rows.size() >= table->num_rows + 1) {
                return damaged("table '" + name + "' has more rows than it declares");
            }
            if (table->cur_row == 0) return damaged("row position lost");
            const unsigned row = table->cur_row - 1;
            std::size_t nrows = get16(mdb_->pg_buf + rco);
            if (row >= nrows) return damaged("row outside its page");
            std::uint16_t raw_start = get16(mdb_->pg_buf + rco + 2 + 2 * row);
            if (raw_start & 0x4000) return damaged("table '" + name + "' has overflow rows");
            int start = 0;
            std::size_t len = 0;
            mdb_find_row(mdb_.get(), static_cast<int>(row), &start, &len);
            start &= 0x1FFF;
            if (len == 0 || static_cast<std::size_t>(start) + len > page_size_)
                return damaged("row outside its page");
            int cracked = mdb_crack_row(table, start, len, fields.data());
            if (cracked < static_cast<int>(table->num_cols))
                return damaged("row of '" + name + "' cannot be decoded");
            std::vector<FieldValue> values;
            values.reserve(table->num_cols);
            for (unsigned i = 0; i < table->num_cols; ++i) {
                auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
                auto v = decode_value(*col, fields[i]);
                if (!v) return v.error();
                values.push_back(std::move(*v));
            }
            out.rows.push_back(std::move(values));
        }
    }
    if (out.rows.size() != table->num_rows)
        return damaged("table '" + name + "' holds " + std::to_string(out.rows.size()) +
                       " of its " + std::to_string(table->num_rows) + " rows");
    return out;
}

Result<std::vector<TableData>> Reader::read(std::string_view password) {
    if (Status s = check_header(); !s) return s.error();
    if (Status s = check_password(password); !s) return s.error();
    // One quiet stretch for every libmdb call of the reading.
    QuietLibmdb quiet;
    mdb_.reset(mdb_open_buffer(bytes_.data(), bytes_.size(), MDB_NOFLAGS));
    if (!mdb_) return damaged("libmdb refused it");
    if (mdb_->fmt->pg_size != static_cast<ssize_t>(page_size_)) return damaged("page size");

    // Our own walk of the system table, which always starts on page 2.
    auto sys = load_table(2, "MSysObjects");
    if (!sys) return sys.error();
    auto sys_rows = decode_rows(sys->get(), "MSysObjects");
    if (!sys_rows) return sys_rows.error();
    auto col_index = [&](const char* want) -> int {
        for (std::size_t i = 0; i < sys_rows->columns.size(); ++i)
            if (platform::equal_ignoring_case(sys_rows->columns[i].name, want))
                return static_cast<int>(i);
        return -1;
    };
    int id_col = col_index("Id");
    int name_col = col_index("Name");
    int type_col = col_index("Type");
    int flags_col = col_index("Flags");
    if (id_col < 0 || name_col < 0 || type_col < 0 || flags_col < 0)
        return damaged("system table lacks its columns");

    std::vector<TableData> tables;
    for (const auto& r : sys_rows->rows) {
        const auto* type = std::get_if<std::int64_t>(&r[static_cast<std::size_t>(type_col)]);
        const auto* id = std::get_if<std::int64_t>(&r[static_cast<std::size_t>(id_col)]);
        const auto* nm = std::get_if<std::string>(&r[static_cast<std::size_t>(name_col)]);
        const auto* fl = std::get_if<std::int64_t>(&r[static_cast<std::size_t>(flags_col)]);
        if (!type || (*type & 0x7F) != MDB_TABLE) continue;
        if (!id || !nm) return damaged("system table row without id or name");
        std::uint32_t flags = fl ? static_cast<std::uint32_t>(*fl) : 0;
        if (flags & 0x80000002U) continue;  // system and hidden tables
        auto page = static_cast<std::uint32_t>(*id) & 0x00FFFFFF;
        auto t = load_table(page, *nm);
        if (!t) return t.error();
        auto data = decode_rows(t->get(), *nm);
        if (!data) return data.error();
        tables.push_back(std::move(*data));
    }
    return tables;
}

}  // namespace

LockHolder::~LockHolder() {
    held_files().erase(key_);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

std::string password_from_connect(std::string_view connect) {
    std::size_t pos = 0;
    while (pos <= connect.size()) {
        std::size_t end = connect.find(';', pos);
        if (end == std::string_view::npos) end = connect.size();
        std::string_view part = connect.substr(pos, end - pos);
        if (part.size() >= 4 && platform::equal_ignoring_case(part.substr(0, 4), "PWD="))
            return std::string(part.substr(4));
        pos = end + 1;
    }
    return {};
}

Result<std::shared_ptr<const JetFile>> JetFile::open(const std::string& fs_path,
                                                     const std::string& shown,
                                                     std::string_view password, bool exclusive) {
    const Error not_found{kFileNotFound, "Could not find file '" + shown + "'."};
    int fd = ::open(fs_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return not_found;
        return Error{kPermissionDenied,
                     "Could not open '" + shown + "': " + std::strerror(errno) + "."};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        bool dir = S_ISDIR(st.st_mode);
        ::close(fd);
        if (dir)
            return Error{kFileNotFound, "Could not find file '" + shown + "' (it is a folder)."};
        return unrecognized(shown, "not a regular file");
    }
    auto key = std::make_pair(st.st_dev, st.st_ino);
    std::shared_ptr<LockHolder> lock = held_files()[key].lock();
    if (lock && !lock->ours()) lock.reset();
    if (lock) {
        ::close(fd);
        fd = -1;
    } else {
        if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK)
                return Error{kFileInUse, "Could not use '" + shown + "'; file already in use."};
            return Error{kPermissionDenied,
                         "Could not lock '" + shown + "': " + std::strerror(err) + "."};
        }
        lock = std::make_shared<LockHolder>(fd, st.st_dev, st.st_ino);
        held_files()[key] = lock;
    }

    if (st.st_size <= 0) return unrecognized(shown, "empty file");
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize)
        return unrecognized(shown, "too large");
    auto read_bytes = [&](std::size_t size) -> Result<std::vector<std::uint8_t>> {
        std::vector<std::uint8_t> bytes(size);
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::pread(lock->fd(), bytes.data() + done, bytes.size() - done,
                                static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return unrecognized(shown, "read failed");
            done += static_cast<std::size_t>(n);
        }
        return bytes;
    };
    std::shared_ptr<JetFile> file(new JetFile());
    // The stamp is taken under the lock, so no cooperating writer changes
    // the file between it and the reading.
    if (::fstat(lock->fd(), &st) != 0) return unrecognized(shown, "read failed");
    const FileStamp stamp = stamp_of(st);
    auto& last = last_checked();
    if (last && last->stamp == stamp) {
        const std::size_t page = last->version == 0 ? kJet3PageSize : kJet4PageSize;
        auto head = read_bytes(page);
        if (!head) return head.error();
        Reader reader(std::move(*head), shown);
        if (Status s = reader.recheck_password(last->version, password); !s) return s.error();
        file->version_ = last->version;
        file->tables_ = last->tables;
    } else {
        auto bytes = read_bytes(static_cast<std::size_t>(st.st_size));
        if (!bytes) return bytes.error();
        Reader reader(std::move(*bytes), shown);
        auto tables = reader.read(password);
        if (!tables) return tables.error();
        file->version_ = reader.version();
        file->tables_ = std::make_shared<const std::vector<TableData>>(std::move(*tables));
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::int64_t now_ns = std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
        if (stamp.ctime_ns < now_ns - kSettledNs && stamp.mtime_ns < now_ns - kSettledNs)
            last = CheckedFile{stamp, file->version_, file->tables_};
        else
            last.reset();
    }
    file->lock_ = std::move(lock);
    return std::shared_ptr<const JetFile>(std::move(file));
}

const TableData* JetFile::find_table(std::string_view name) const {
    const FoldedKey key(name);
    for (const auto& t : *tables_)
        if (key.matches(t.name)) return &t;
    return nullptr;
}

}  // namespace strovia::jet
