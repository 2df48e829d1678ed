#include "support.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "jet/writer.hpp"
#include "tables.hpp"

namespace strovia::jet::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "strovia-jet-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void build(const nlohmann::json& manifest, const std::string& path, const std::string& password) {
    auto m = manifest_from_json(manifest);
    ASSERT_TRUE(m.ok()) << m.error().text;
    Status s = write_catalogue(*m, path, password);
    ASSERT_TRUE(s.ok()) << s.error().text;
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Result<std::shared_ptr<Database>> open(const std::string& path, const std::string& connect) {
    auto engine = make_engine();
    return engine->default_workspace().open_database(path, true, true, connect);
}

Rows all_rows(Database& db, const std::string& query, const std::vector<std::string>& fields) {
    auto rs = db.open_recordset(query);
    if (!rs) return {{rs.error().text}};
    Rows out;
    Status s;
    for (; s.ok() && !(*rs)->eof(); s = (*rs)->move_next()) {
        auto& row = out.emplace_back();
        for (const auto& f : fields) {
            auto v = (*rs)->field(f);
            row.push_back(v.ok() ? *v : FieldValue{v.error().text});
        }
    }
    if (!s.ok()) out.push_back({s.error().text});
    return out;
}

nlohmann::json posture_manifest() {
    using namespace strovia::test::tables;
    auto seg = segments(12, json::parse(R"([["s3", "c", 40000, 1, 1.5], ["s1", "a", 2.5, 2, 2.5],
        ["mt", null, 3.5, 3, 0]])"));
    seg["columns"][2]["type"] = "Double";  // StartPos as a real catalogue may hold it
    seg["columns"][3]["type"] = "Long";
    return {{"tables",
             {asanas(json::parse(R"([[12, "Tadasana", "Video", "tada.mpg"],
                [7, "Vrksasana", "Photo", null], [-5, "Warrior \"II\"", "video", "w2.mpg"],
                [3, "ÉKA PADA", "PHOTO", null]])")),
              seg, photos(-5, json::parse(R"([["p1", "one.jpg"]])"))}}};
}

int child_open_number(const std::string& path) {
    pid_t pid = ::fork();
    if (pid == 0) {
        auto db = open(path);
        ::_exit(db.ok() ? 0 : (db.error().number == engine_error::kFileInUse ? 45 : 1));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace strovia::jet::test
