#include "jet/jet_file.hpp"

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <utility>

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

// The files this process holds a lock on. Engines on different threads (a
// widget, an export job) open catalogues at the same time; recursive, as a
// holder dropped under it erases itself.
struct HeldFiles {
    std::recursive_mutex mutex;
    std::condition_variable_any released;
    std::map<std::pair<dev_t, ino_t>, std::weak_ptr<LockHolder>> by_file;
};

HeldFiles& held_files() {
    static HeldFiles held;
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

Error unrecognized(const std::string& shown, const std::string& why) {
    return Error{kUnrecognizedFormat,
                 "Unrecognized database format '" + shown + "' (" + why + ")."};
}

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

// Where the fields of a table definition and a data page sit in each version.
struct Layout {
    std::size_t row_count;  // data page: the number of rows, then their offsets
    std::size_t num_rows, num_var_cols, num_cols, num_idx, num_ridx, usage_map, cols_start;
    std::size_t ridx_entry, col_entry, col_num, var_num, flags, fixed_offset, size;
    std::size_t name_length;  // bytes before each name
    std::size_t ridx_data, lidx_entry;
};
constexpr Layout kJet3Layout{8, 12, 23, 25, 27, 31, 35, 43, 8, 18, 1, 3, 13, 14, 16, 1, 39, 20};
constexpr Layout kJet4Layout{12, 16, 43, 45, 47, 51, 55, 63, 12, 25, 5, 7, 15, 21, 23, 2, 52, 28};

struct Column {
    std::string name;
    int col_type = 0;
    unsigned col_num = 0;      // its bit in a row's null mask
    unsigned var_col_num = 0;  // its entry in a row's variable-length offsets
    unsigned fixed_offset = 0;
    int col_size = 0;
    bool is_fixed = false;
};

// One value of a row as it lies in the file (inside the row when not null).
struct Field {
    const std::uint8_t* value = nullptr;
    int siz = 0;
    bool is_null = true;
};

// One row of a page as its slot gives it: the offset with its flags, and
// the bytes from there to the start of the row before it.
struct Slot {
    std::uint16_t raw = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};
inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowMoved = 0x4000;  // the row holds its new address
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;

struct TableDef {
    std::string name;
    std::uint32_t page = 0;
    std::uint32_t num_rows = 0;
    unsigned num_var_cols = 0;
    std::vector<Column> columns;  // in column-number order
    std::string_view usage_map;
};

// The whole file in memory, not cleared first: every byte is read into it.
// A large file goes into huge pages where the system offers them on
// request: reading 40 MB into 4 KB pages spends more time in page faults
// than in decoding.
class Bytes {
public:
    explicit Bytes(std::size_t n) : size_(n) {
        constexpr std::size_t kHuge = 2 * 1024 * 1024;
        void* p = nullptr;
        if (n >= 2 * kHuge && ::posix_memalign(&p, kHuge, (n + kHuge - 1) / kHuge * kHuge) == 0) {
            ::madvise(p, (n + kHuge - 1) / kHuge * kHuge, MADV_HUGEPAGE);
        } else {
            p = std::malloc(n);
        }
        data_.reset(static_cast<std::uint8_t*>(p));  // null when memory ran out
    }
    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::uint8_t operator[](std::size_t i) const { return data_.get()[i]; }

private:
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> data_;
    std::size_t size_;
};

}  // namespace

// One file's bytes, checked whole by read(); a table's values are decoded
// from them when the table is first asked for, by the same code that
// checked them, so that cannot fail.
class Reader {
public:
    Reader(Bytes bytes, std::string shown) : bytes_(std::move(bytes)), shown_(std::move(shown)) {}

    Status read(std::string_view password);
    int version() const { return version_; }
    const std::vector<TableData>& all();
    const TableData* find(std::string_view name);
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
    Result<std::span<const std::uint8_t>> definition(std::uint32_t page);
    Result<TableDef> load_table(std::uint32_t page, const std::string& name);
    // Checks every row of the table; with `out`, also keeps the values there.
    Status decode_rows(const TableDef& table, TableData* out);
    Status decode_page(const TableDef& table, std::uint32_t page, TableData* out,
                       std::size_t& count);
    Status decode(std::size_t i);
    Status crack_row(const TableDef& table, const std::uint8_t* row, std::size_t len);
    Result<FieldValue> decode_value(const Column& col, const Field& f) const;
    Result<std::string> text(std::string_view raw) const;
    Result<std::string> memo(const std::uint8_t* p, std::size_t len) const;
    Result<std::string_view> row_at(std::uint32_t pg_row, bool data_page) const;
    Result<std::string_view> lval_row(std::uint32_t pg_row) const { return row_at(pg_row, true); }
    std::optional<Slot> slot(const std::uint8_t* p, std::size_t r) const;
    Result<Slot> moved_row(const TableDef& table, Slot from);
    std::size_t page_count() const { return bytes_.size() / page_size_; }
    const std::uint8_t* page(std::uint32_t n) const {
        return bytes_.data() + static_cast<std::size_t>(n) * page_size_;
    }
    bool every_byte_maps() const {
        return version_ == 1 || code_page_ == 0 || code_page_ == kCodePage1252;
    }
    const Layout& layout() const { return version_ == 0 ? kJet3Layout : kJet4Layout; }
    Error damaged(const std::string& why) const { return unrecognized(shown_, why); }

    Bytes bytes_;
    std::string shown_;
    int version_ = 0;
    std::size_t page_size_ = kJet3PageSize;
    unsigned code_page_ = kCodePage1252;
    std::uint32_t page_key_ = 0;
    std::vector<std::uint32_t> seen_;  // pages of the current definition chain
    std::uint32_t walk_ = 0;
    std::vector<bool> claimed_;        // definition pages already read as a table
    std::vector<std::uint8_t> chain_;  // a definition spread over several pages
    std::vector<Field> fields_;        // the row being decoded
    std::vector<std::size_t> offsets_;
    std::vector<std::uint32_t> moved_;  // where the moved rows of the table being read went
    std::vector<TableDef> defs_;        // the user tables, checked
    std::vector<TableData> tables_;     // their names and columns; rows once decoded
    std::vector<bool> decoded_;
};

Status Reader::check_header() {
    if (bytes_.size() < kJet3PageSize) return damaged("shorter than one page");
    constexpr const char* kWhatIsRead = "; Jet 3 and Jet 4 files are read";
    if (std::memcmp(bytes_.data() + kSignatureOffset, kAceSignature.data(), kAceSignature.size()) ==
        0)
        return damaged("it is an ACE database, the format of 2007 and later versions" +
                       std::string(kWhatIsRead));
    if (get32(bytes_.data()) != 0x100 ||
        std::memcmp(bytes_.data() + kSignatureOffset, kSignature.data(), kSignature.size()) != 0)
        return damaged("no Jet signature");
    version_ = bytes_[kVersionOffset];
    if (version_ > 1)
        return damaged("a Jet database of an unknown version (" + std::to_string(version_) + ")" +
                       kWhatIsRead);
    page_size_ = version_ == 0 ? kJet3PageSize : kJet4PageSize;
    if (bytes_.size() % page_size_ != 0) return damaged("not a whole number of pages");
    if (page_count() < 3) return damaged("too few pages for a system table");
    return {};
}

Status Reader::check_password(std::string_view password) {
    std::vector<std::uint8_t> page(bytes_.data(), bytes_.data() + page_size_);
    code_definition_page(page, version_);
    code_page_ = get16(&page[kCodePageOffset]);
    page_key_ = get32(&page[kPageKeyOffset]);
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
// The definition is the first page whole, then each further page after its
// 8-byte header.
Result<std::span<const std::uint8_t>> Reader::definition(std::uint32_t first) {
    if (seen_.size() != page_count()) seen_.assign(page_count(), 0);
    ++walk_;
    // Page 0 is the file's header, and 0 ends a chain: no definition is there.
    if (first == 0) return damaged("a table definition on the header page");
    std::size_t pages = 0;
    for (std::uint32_t p = first; p != 0; ++pages) {
        if (p >= page_count()) return damaged("table definition outside the file");
        if (seen_[p] == walk_) return damaged("table definition pages form a loop");
        seen_[p] = walk_;
        if (page(p)[0] != 0x02)
            return damaged("page " + std::to_string(p) + " is no table definition");
        p = get32(page(p) + 4);
    }
    if (pages == 1) return std::span<const std::uint8_t>(page(first), page_size_);
    chain_.assign(page(first), page(first) + page_size_);
    for (std::uint32_t p = get32(page(first) + 4); p != 0; p = get32(page(p) + 4))
        chain_.insert(chain_.end(), page(p) + 8, page(p) + page_size_);
    return std::span<const std::uint8_t>(chain_);
}

// Reads a table definition and checks every count, offset and name in it
// against the pages that hold it, so no impossible definition reaches the
// rows.
Result<TableDef> Reader::load_table(std::uint32_t first, const std::string& name) {
    if (claimed_.size() != page_count()) claimed_.assign(page_count(), false);
    auto def = definition(first);
    if (!def) return def.error();
    if (claimed_[first])
        return damaged("two tables share the definition on page " + std::to_string(first));
    claimed_[first] = true;
    const std::uint8_t* d = def->data();
    const std::size_t size = def->size();
    const Layout& L = layout();
    auto bad = [&](const std::string& why) { return damaged("table '" + name + "': " + why); };

    TableDef t;
    t.name = name;
    t.page = first;
    t.num_rows = get32(d + L.num_rows);
    t.num_var_cols = get16(d + L.num_var_cols);
    const std::size_t num_cols = get16(d + L.num_cols);
    const std::uint64_t num_idx = get32(d + L.num_idx);
    const std::uint64_t num_ridx = get32(d + L.num_ridx);
    if (num_cols > kMaxColumns)
        return bad(std::to_string(num_cols) + " columns, more than a table can have");
    if (t.num_var_cols > num_cols) return bad("more variable-length columns than columns");
    // Each column takes its entry and at least the length of its name.
    std::uint64_t pos = L.cols_start + num_ridx * L.ridx_entry;
    if (pos + num_cols * (L.col_entry + L.name_length) > size)
        return bad(std::to_string(num_ridx) + " indexes and " + std::to_string(num_cols) +
                   " columns do not fit in its definition of " + std::to_string(size) + " bytes");
    const std::size_t count_size = version_ == 0 ? 1 : 2;
    const unsigned max_var = version_ == 0 ? 256 : static_cast<unsigned>(page_size_ / 2);
    t.columns.resize(num_cols);
    for (auto& c : t.columns) {
        const std::uint8_t* e = d + pos;
        c.col_type = e[0];
        c.col_num = e[L.col_num];
        c.var_col_num = get16(e + L.var_num);
        c.is_fixed = (e[L.flags] & 0x01) != 0;
        c.fixed_offset = get16(e + L.fixed_offset);
        c.col_size = c.col_type == column_type::kBoolean ? 0 : get16(e + L.size);
        if (c.is_fixed &&
            count_size + c.fixed_offset + static_cast<std::size_t>(c.col_size) > page_size_)
            return bad("a fixed column lies outside any row");
        if (!c.is_fixed && c.var_col_num >= max_var)
            return bad("a variable-length column number out of range");
        pos += L.col_entry;
    }
    for (auto& c : t.columns) {
        if (pos + L.name_length > size) return bad("column names run past its definition");
        const std::size_t len = version_ == 0 ? d[pos] : get16(d + pos);
        pos += L.name_length;
        if (len == 0 || pos + len > size || (version_ == 1 && len % 2 != 0))
            return bad("a column name out of bounds");
        auto n = text(std::string_view(reinterpret_cast<const char*>(d + pos), len));
        if (!n) return n.error();
        if (has_control_character(*n)) return bad("a column name holds control characters");
        c.name = std::move(*n);
        pos += len;
    }
    if (pos + num_ridx * L.ridx_data + num_idx * L.lidx_entry > size)
        return bad(std::to_string(num_ridx) + " real and " + std::to_string(num_idx) +
                   " logical indexes do not fit in its definition");
    pos += num_ridx * L.ridx_data + num_idx * L.lidx_entry;
    for (std::uint64_t i = 0; i < num_idx; ++i) {
        if (pos + L.name_length > size) return bad("index names run past its definition");
        pos += L.name_length + (version_ == 0 ? d[pos] : get16(d + pos));
        if (pos > size) return bad("index names run past its definition");
    }
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const Column& a, const Column& b) { return a.col_num < b.col_num; });
    auto map = row_at(get32(d + L.usage_map), false);
    if (!map || map->empty()) return bad("its page usage map is missing");
    t.usage_map = *map;
    return t;
}

Result<std::string> Reader::text(std::string_view raw) const {
    if (version_ == 1) return jet4_text_to_utf8(raw);
    auto t = code_page_to_utf8(raw, code_page_);
    if (!t) return damaged("text not in code page " + std::to_string(code_page_));
    return *t;
}

// Rows fill a page from its end: a row runs from its offset to the offset
// of the row before it, flags masked off.
std::optional<Slot> Reader::slot(const std::uint8_t* p, std::size_t r) const {
    const std::size_t rco = layout().row_count;
    const std::size_t nrows = get16(p + rco);
    const std::size_t header = rco + 2 + 2 * nrows;
    if (r >= nrows || header > page_size_) return std::nullopt;
    const std::uint16_t raw = get16(p + rco + 2 + 2 * r);
    const std::size_t start = raw & kRowOffsetMask;
    const std::size_t end = r == 0 ? page_size_ : (get16(p + rco + 2 * r) & kRowOffsetMask);
    if (start < header || start >= end || end > page_size_) return std::nullopt;
    return Slot{raw, p + start, end - start};
}

// A row addressed by page (high 3 bytes) and row; long values lie on data pages.
Result<std::string_view> Reader::row_at(std::uint32_t pg_row, bool data_page) const {
    std::uint32_t pg = pg_row >> 8;
    std::uint32_t row = pg_row & 0xFF;
    if (pg == 0 || pg >= page_count()) return damaged("long value outside the file");
    const std::uint8_t* p = page(pg);
    if (data_page && p[0] != 0x01) return damaged("long value on a page that holds no data");
    if (row >= get16(p + layout().row_count)) return damaged("long value row missing");
    auto s = slot(p, row);
    if (!s) return damaged("long value row out of its page");
    return std::string_view(reinterpret_cast<const char*>(s->data), s->size);
}

// A row that grew when it was edited and no longer fitted its page was
// moved to another data page; its slot keeps its place in the table and
// holds the new address (row in the low byte, page above). The row there
// is flagged deleted alone, so that the page walk passes over it, and is
// read from here only. An edit of a moved row rewrites the address in
// the first slot: an address that leads to a row also flagged moved (as a
// deleted row is too) is refused, so no walk can go round.
Result<Slot> Reader::moved_row(const TableDef& t, Slot s) {
    auto bad = [&](const std::string& why) {
        return damaged("table '" + t.name + "' has a moved row " + why);
    };
    if (s.size < 4) return bad("whose new address is cut short");
    const std::uint32_t to = get32(s.data);
    const std::uint32_t pg = to >> 8;
    if (pg == 0 || pg >= page_count()) return bad("that points outside the file");
    const std::uint8_t* p = page(pg);
    if (p[0] != 0x01 || get32(p + 4) == kLongValuePageTag)
        return bad("that points to page " + std::to_string(pg) + ", which holds no rows");
    auto there = slot(p, to & 0xFF);
    if (!there)
        return bad("that points to row " + std::to_string(to & 0xFF) + " of page " +
                   std::to_string(pg) + ", which the page does not hold");
    if (there->raw & kRowMoved) return bad("that points to a row deleted or moved again");
    if (!(there->raw & kRowDeleted))
        return bad("that points to a row the table also holds in its own place");
    moved_.push_back(to);
    return *there;
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

Result<FieldValue> Reader::decode_value(const Column& col, const Field& f) const {
    using namespace column_type;
    if (col.col_type == kBoolean) return FieldValue{!f.is_null};
    if (f.is_null) return FieldValue{Null{}};
    // crack_row has placed the value inside its row.
    const auto* p = f.value;
    const auto n = static_cast<std::size_t>(f.siz);
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

// Splits a row into its values, as the format lays them out: the column
// count first, fixed-length values at their offsets, variable-length ones
// between the offsets stored at the row's end (Jet 3: one byte each, plus
// a byte per 256 bytes of row that the offsets jump), then the null mask.
// A column the row does not hold (added after the row was written) is null.
Status Reader::crack_row(const TableDef& t, const std::uint8_t* row, std::size_t len) {
    const bool jet3 = version_ == 0;
    const std::size_t count_size = jet3 ? 1 : 2;
    auto cut = [&](const char* why = "is cut short") {
        return damaged("row of '" + t.name + "' " + why);
    };
    if (len < count_size) return cut();
    const std::size_t row_cols = jet3 ? row[0] : get16(row);
    const std::size_t mask_size = (row_cols + 7) / 8;
    if (count_size + mask_size > len) return cut();
    const std::uint8_t* mask = row + len - mask_size;
    std::size_t row_var_cols = 0;
    offsets_.clear();
    if (t.num_var_cols > 0) {
        if (jet3) {
            if (count_size + mask_size + 1 > len) return cut();
            row_var_cols = row[len - 1 - mask_size];
            std::size_t jumps = (len - 1) / 256;
            // Offsets from col_ptr downwards, after the jump bytes.
            const auto col_ptr = static_cast<std::ptrdiff_t>(len) - 2 -
                                 static_cast<std::ptrdiff_t>(mask_size + jumps);
            if (col_ptr - static_cast<std::ptrdiff_t>(row_var_cols) <
                static_cast<std::ptrdiff_t>(count_size))
                return cut();
            // The last jump byte may be a dummy.
            if (static_cast<std::size_t>(col_ptr) - row_var_cols < jumps * 256) --jumps;
            std::size_t used = 0;
            for (std::size_t i = 0; i <= row_var_cols; ++i) {
                while (used < jumps && i == row[len - 2 - mask_size - used]) ++used;
                offsets_.push_back(row[static_cast<std::size_t>(col_ptr) - i] + used * 256);
            }
        } else {
            if (count_size + mask_size + 2 > len) return cut();
            row_var_cols = get16(row + len - 2 - mask_size);
            if (count_size + mask_size + 4 + 2 * row_var_cols > len) return cut();
            for (std::size_t i = 0; i <= row_var_cols; ++i)
                offsets_.push_back(get16(row + len - 4 - mask_size - 2 * i));
        }
    }
    // Variable-length values lie in order between the fixed ones and the
    // offsets themselves, null ones included.
    if (!offsets_.empty()) {
        const std::size_t table_start = jet3 ? len - 2 - mask_size - (len - 1) / 256 - row_var_cols
                                             : len - 4 - mask_size - 2 * row_var_cols;
        const char* disorder = "has its variable-length values out of order";
        if (offsets_.front() < count_size || offsets_.back() > table_start) return cut(disorder);
        for (std::size_t i = 1; i < offsets_.size(); ++i)
            if (offsets_[i] < offsets_[i - 1]) return cut(disorder);
    }
    if (row_var_cols > row_cols) return cut("has more variable-length values than values");
    const std::size_t row_fixed_cols = row_cols - row_var_cols;
    std::size_t fixed_found = 0;
    fields_.assign(t.columns.size(), Field{});
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        Field& f = fields_[i];
        // A row written before its table gained a column does not hold it.
        if (c.col_num >= row_cols) continue;
        f.is_null = (mask[c.col_num / 8] & (1U << (c.col_num % 8))) == 0;
        std::size_t start = 0;
        std::size_t end = 0;
        if (c.is_fixed && fixed_found < row_fixed_cols) {
            ++fixed_found;
            start = count_size + c.fixed_offset;
            end = start + static_cast<std::size_t>(c.col_size);
        } else if (!c.is_fixed && c.var_col_num < row_var_cols) {
            start = offsets_[c.var_col_num];
            end = offsets_[c.var_col_num + 1];
        } else {
            f.is_null = true;
            continue;
        }
        if (f.is_null) continue;
        if (start < count_size || start > end || end > len)
            return damaged("value of '" + c.name + "' outside its row");
        f.value = row + start;
        f.siz = static_cast<int>(end - start);
    }
    return {};
}

// The rows of one data page of the table; a page of another table that the
// usage map names is passed over.
Status Reader::decode_page(const TableDef& t, std::uint32_t pg, TableData* out,
                           std::size_t& count) {
    if (pg >= page_count()) return damaged("table '" + t.name + "' has pages outside the file");
    const std::uint8_t* p = page(pg);
    if (p[0] != 0x01 || get32(p + 4) != t.page) return {};
    const std::size_t rco = layout().row_count;
    const std::size_t nrows = get16(p + rco);
    const std::size_t header = rco + 2 + 2 * nrows;
    if (header > page_size_) return damaged("page " + std::to_string(pg) + " has too many rows");
    for (std::size_t r = 0; r < nrows; ++r) {
        if (get16(p + rco + 2 + 2 * r) & kRowDeleted) continue;
        auto row = slot(p, r);
        if (!row) return damaged("row outside its page");
        if (row->raw & kRowMoved) {
            auto moved = moved_row(t, *row);
            if (!moved) return moved.error();
            row = *moved;
        }
        if (count >= t.num_rows)
            return damaged("table '" + t.name + "' has more rows than it declares");
        ++count;
        if (Status s = crack_row(t, row->data, row->size); !s) return s;
        std::vector<FieldValue> values;
        if (out) values.reserve(t.columns.size());
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            // Text in a code page that maps every byte cannot fail to decode.
            if (!out && t.columns[i].col_type == column_type::kText && every_byte_maps()) continue;
            auto v = decode_value(t.columns[i], fields_[i]);
            if (!v) return v.error();
            if (out) values.push_back(std::move(*v));
        }
        if (out) out->rows.push_back(std::move(values));
    }
    return {};
}

// Walks the data pages the usage map names, in page order: an inline map
// (type 0: a start page and a bitmap) or a map of bitmap pages (type 1).
Status Reader::decode_rows(const TableDef& t, TableData* out) {
    std::size_t count = 0;
    moved_.clear();
    const auto* map = reinterpret_cast<const std::uint8_t*>(t.usage_map.data());
    const std::size_t map_size = t.usage_map.size();
    auto bits = [&](const std::uint8_t* bitmap, std::size_t bytes, std::uint64_t base) -> Status {
        for (std::size_t i = 0; i < bytes; ++i) {
            if (bitmap[i] == 0) continue;
            for (unsigned b = 0; b < 8; ++b) {
                if (!(bitmap[i] & (1U << b))) continue;
                const std::uint64_t pg = base + i * 8 + b;
                if (pg >= page_count())
                    return damaged("table '" + t.name + "' has pages outside the file");
                if (Status s = decode_page(t, static_cast<std::uint32_t>(pg), out, count); !s)
                    return s;
            }
        }
        return {};
    };
    if (map[0] == 0) {
        if (map_size >= 5)
            if (Status s = bits(map + 5, map_size - 5, get32(map + 1)); !s) return s;
    } else if (map[0] == 1) {
        const std::uint64_t per_page = (page_size_ - 4) * 8;
        for (std::size_t j = 0; j < (map_size - 1) / 4; ++j) {
            const std::uint32_t mp = get32(map + 1 + 4 * j);
            if (mp == 0) continue;
            if (mp >= page_count())
                return damaged("table '" + t.name + "' has its usage map outside the file");
            if (Status s = bits(page(mp) + 4, page_size_ - 4, j * per_page); !s) return s;
        }
    } else {
        return damaged("table '" + t.name + "' has a usage map of unknown type");
    }
    if (count != t.num_rows)
        return damaged("table '" + t.name + "' holds " + std::to_string(count) + " of its " +
                       std::to_string(t.num_rows) + " rows");
    // Two slots sending their row to one place would show it twice.
    std::sort(moved_.begin(), moved_.end());
    if (std::adjacent_find(moved_.begin(), moved_.end()) != moved_.end())
        return damaged("table '" + t.name + "' has two rows moved to the same place");
    return {};
}

Status Reader::decode(std::size_t i) {
    if (decoded_[i]) return {};
    tables_[i].rows.clear();
    tables_[i].rows.reserve(defs_[i].num_rows);  // a count checked at opening
    if (Status s = decode_rows(defs_[i], &tables_[i]); !s) return s;
    decoded_[i] = true;
    return {};
}

const std::vector<TableData>& Reader::all() {
    for (std::size_t i = 0; i < tables_.size(); ++i) (void)decode(i);
    return tables_;
}

const TableData* Reader::find(std::string_view name) {
    const FoldedKey key(name);
    for (std::size_t i = 0; i < tables_.size(); ++i) {
        if (!key.matches(tables_[i].name)) continue;
        // The same bytes were checked at opening; a failure here cannot be.
        if (!decode(i)) return nullptr;
        return &tables_[i];
    }
    return nullptr;
}

Status Reader::read(std::string_view password) {
    if (Status s = check_header(); !s) return s.error();
    if (Status s = check_password(password); !s) return s.error();
    // An encoded file has every page after the first coded with RC4, keyed
    // by its key exclusive-or the page number.
    if (page_key_ != 0) {
        for (std::uint32_t pg = 1; pg < page_count(); ++pg) {
            const std::uint32_t k = page_key_ ^ pg;
            const std::array<std::uint8_t, 4> key = {
                static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
            rc4(key,
                std::span<std::uint8_t>(bytes_.data() + std::size_t{pg} * page_size_, page_size_));
        }
    }

    // The system table always starts on page 2.
    auto sys = load_table(2, "MSysObjects");
    if (!sys) return sys.error();
    TableData sys_data;
    for (const auto& c : sys->columns)
        sys_data.columns.push_back(ColumnInfo{c.name, c.col_type, c.col_size});
    if (Status s = decode_rows(*sys, &sys_data); !s) return s;
    const TableData* sys_rows = &sys_data;
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

    constexpr std::int64_t kTableObject = 1;
    for (const auto& r : sys_rows->rows) {
        const auto* type = std::get_if<std::int64_t>(&r[static_cast<std::size_t>(type_col)]);
        const auto* id = std::get_if<std::int64_t>(&r[static_cast<std::size_t>(id_col)]);
        const auto* nm = std::get_if<std::string>(&r[static_cast<std::size_t>(name_col)]);
        const auto* fl = std::get_if<std::int64_t>(&r[static_cast<std::size_t>(flags_col)]);
        if (!type || (*type & 0x7F) != kTableObject) continue;
        if (!id || !nm) return damaged("system table row without id or name");
        std::uint32_t flags = fl ? static_cast<std::uint32_t>(*fl) : 0;
        if (flags & 0x80000002U) continue;  // system and hidden tables
        auto page = static_cast<std::uint32_t>(*id) & 0x00FFFFFF;
        auto t = load_table(page, *nm);
        if (!t) return t.error();
        if (Status s = decode_rows(*t, nullptr); !s) return s;
        TableData data;
        data.name = t->name;
        for (const auto& c : t->columns)
            data.columns.push_back(ColumnInfo{c.name, c.col_type, c.col_size});
        tables_.push_back(std::move(data));
        defs_.push_back(std::move(*t));
    }
    decoded_.assign(tables_.size(), false);
    seen_ = {};
    claimed_ = {};
    chain_ = {};
    return {};
}

// File times tick coarsely (a few milliseconds; seconds on some file
// systems), so a file changed shortly before it was read could change again
// without a new stamp: such a file is not kept.
constexpr std::int64_t kSettledNs = 2'000'000'000;

struct ReadCache::Entry {
    FileStamp stamp;
    int version;
    std::shared_ptr<Reader> reader;
};
ReadCache::ReadCache() = default;
ReadCache::~ReadCache() = default;

LockHolder::~LockHolder() {
    HeldFiles& held = held_files();
    std::lock_guard guard(held.mutex);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    // A later holder of the same file may stand there already.
    if (auto it = held.by_file.find(key_); it != held.by_file.end() && it->second.expired())
        held.by_file.erase(it);
    held.released.notify_all();
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
                                                     std::string_view password, bool exclusive,
                                                     ReadCache* cache) {
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
    // Opened without waiting so that a FIFO or a device cannot hold the
    // opening; a regular file reads the same either way.
    if (int fl = ::fcntl(fd, F_GETFL); fl >= 0 && (fl & O_NONBLOCK) != 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    auto key = std::make_pair(st.st_dev, st.st_ino);
    HeldFiles& held = held_files();
    std::unique_lock guard(held.mutex);
    // A holder whose last user has just let go keeps the file locked until
    // its destructor has run: wait for that rather than fail as "in use".
    std::shared_ptr<LockHolder> lock;
    held.released.wait(guard, [&] {
        auto it = held.by_file.find(key);
        if (it == held.by_file.end()) return true;
        lock = it->second.lock();
        return lock != nullptr;
    });
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
        held.by_file[key] = lock;
    }
    guard.unlock();

    if (st.st_size <= 0) return unrecognized(shown, "empty file");
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize)
        return unrecognized(shown, "too large");
    auto read_bytes = [&](std::size_t size) -> std::optional<Bytes> {
        Bytes bytes(size);
        if (!bytes.data()) return std::nullopt;
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::pread(lock->fd(), bytes.data() + done, bytes.size() - done,
                                static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            done += static_cast<std::size_t>(n);
        }
        return bytes;
    };
    std::shared_ptr<JetFile> file(new JetFile());
    // The stamp is taken under the lock, so no cooperating writer changes
    // the file between it and the reading.
    if (::fstat(lock->fd(), &st) != 0) return unrecognized(shown, "read failed");
    const FileStamp stamp = stamp_of(st);
    const ReadCache::Entry* last = cache ? cache->last_.get() : nullptr;
    if (last && last->stamp == stamp) {
        auto head = read_bytes(last->version == 0 ? kJet3PageSize : kJet4PageSize);
        if (!head) return unrecognized(shown, "read failed");
        Reader reader(std::move(*head), shown);
        if (Status s = reader.recheck_password(last->version, password); !s) return s.error();
        file->version_ = last->version;
        file->reader_ = last->reader;
    } else {
        auto bytes = read_bytes(static_cast<std::size_t>(st.st_size));
        if (!bytes) return unrecognized(shown, "read failed or not enough memory");
        auto reader = std::make_shared<Reader>(std::move(*bytes), shown);
        if (Status s = reader->read(password); !s) return s.error();
        file->version_ = reader->version();
        file->reader_ = std::move(reader);
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::int64_t now_ns = std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
        if (cache) {
            const bool settled =
                stamp.ctime_ns < now_ns - kSettledNs && stamp.mtime_ns < now_ns - kSettledNs;
            cache->last_.reset(settled ? new ReadCache::Entry{stamp, file->version_, file->reader_}
                                       : nullptr);
        }
    }
    file->lock_ = std::move(lock);
    return std::shared_ptr<const JetFile>(std::move(file));
}

const std::vector<TableData>& JetFile::tables() const { return reader_->all(); }

const TableData* JetFile::find_table(std::string_view name) const { return reader_->find(name); }

}  // namespace strovia::jet
