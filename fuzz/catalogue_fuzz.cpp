// The catalogue engine on arbitrary file bytes, used the way the control
// uses it: opened with the control's password and without one, the three
// query forms, every row walked and every field the control reads.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "catalogue/engine.hpp"
#include "catalogue/rules.hpp"
#include "jet/engine.hpp"
#include "jet/jet_file.hpp"
#include "platform/paths.hpp"
#include "scratch.hpp"

namespace {

using namespace strovia;

constexpr const char* kPostureFields[] = {"AsanaID", "name", "Disp_Type", "VideoName"};
constexpr const char* kRowFields[] = {"Filename", "Action",  "StartPos", "EndPos",
                                      "Filelen",  "Mp2name", "ImageName"};
constexpr std::size_t kMaxRows = 1u << 20;  // a walk longer than any file can hold

void check_closed(const Status& s) {
    if (s || s.error().number != engine_error::kObjectClosed) std::abort();
}

// Walks every row, reads the fields, closes; returns the row count.
template <std::size_t N>
std::size_t walk(Database& db, const std::string& query, const char* const (&fields)[N],
                 FieldValue* first_id = nullptr, std::string* first_name = nullptr) {
    auto rs = db.open_recordset(query);
    if (!rs) {
        if (rs.error().number == 0) std::abort();
        return 0;
    }
    Recordset& r = **rs;
    std::size_t rows = 0;
    if (r.move_first()) {
        for (; !r.eof(); ++rows) {
            if (rows > kMaxRows) std::abort();
            for (const char* f : fields) {
                auto v = r.field(f);
                if (!v) continue;
                (void)field_as_text(*v);
                (void)field_as_int16(*v);
                (void)field_as_double(*v);
                if (rows == 0 && first_id && std::string_view(f) == "AsanaID") *first_id = *v;
                if (rows == 0 && first_name && std::string_view(f) == "name")
                    if (auto t = field_as_text(*v)) *first_name = *t;
            }
            if (!r.move_next()) std::abort();
        }
        if (r.move_next()) std::abort();  // past the end stays an error
    } else if (!r.eof()) {
        std::abort();
    }
    if (!r.close()) std::abort();
    check_closed(r.move_first());
    check_closed(r.close());
    return rows;
}

void use(Database& db) {
    FieldValue id;
    std::string name;
    bool have_name = false;
    {
        std::string n;
        walk(db, "select * from Asanas", kPostureFields, &id, &n);
        have_name = !n.empty();
        name = n;
    }
    // A name read from the catalogue finds its own row again.
    std::size_t found =
        walk(db, catalogue::posture_lookup(have_name ? name : "Tadasana"), kPostureFields);
    if (have_name && found == 0) std::abort();
    walk(db, catalogue::segment_rows(id), kRowFields);
    walk(db, catalogue::photo_rows(id), kRowFields);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile scratch;
    scratch.replace(data, size);
    const std::string& path = scratch.path();
    auto engine = jet::make_engine();
    for (std::string_view connect : {catalogue::kConnect, std::string_view()}) {
        auto db = engine->default_workspace().open_database(path, true, true, connect);
        if (!db) {
            if (db.error().number == 0 || db.error().text.empty()) std::abort();
            continue;
        }
        use(**db);
        if (!(*db)->close()) std::abort();
        check_closed((*db)->close());
    }
    // What the dump reads: every table decoded, as the opening checked it.
    auto file =
        jet::JetFile::open(path, path, jet::password_from_connect(catalogue::kConnect), false);
    if (file)
        for (const auto& t : (*file)->tables())
            for (const auto& row : t.rows)
                if (row.size() != t.columns.size()) std::abort();
    return 0;
}
