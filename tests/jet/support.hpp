#pragma once
// Test catalogues made by the writer in a fresh folder per test.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "catalogue/engine.hpp"
#include "control/video_cntl.hpp"
#include "doubles/scripted_channel.hpp"
#include "doubles/scripted_host.hpp"
#include "jet/engine.hpp"

namespace strovia::jet::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes the manifest as a catalogue at `path`; fails the test on error.
void build(const nlohmann::json& manifest, const std::string& path,
           const std::string& password = "Mint3laneKK");

std::string read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::string& bytes);

// Opens through a fresh engine, as the control does.
Result<std::shared_ptr<Database>> open(const std::string& path,
                                       const std::string& connect = ";PWD=Mint3laneKK;");

// Forks a child that tries the same opening: 0 when it opens, 45 when the
// file is in use, 1 for any other error.
int child_open_number(const std::string& path);

using I = std::int64_t;
using S = std::string;

// A control on a scripted host and channel, reading the real catalogue
// under the content folder `dir`.
struct RealControl {
    explicit RealControl(const std::string& dir) {
        EXPECT_TRUE(control.UserControl_InitProperties());
        control.Resourcedir(dir);
    }
    strovia::test::Trace trace;
    strovia::test::ScriptedHost host{trace};
    strovia::test::ScriptedChannel channel{trace};
    EngineHolder engines{[] { return make_engine(); }};
    VideoCntl control{host, channel, engines};
};

// Every row of the query's result, the named fields of each; an error
// shows as its text in place of what it stopped.
using Rows = std::vector<std::vector<FieldValue>>;
Rows all_rows(Database& db, const std::string& query, const std::vector<std::string>& fields);

// The error number of a call, 0 when it succeeded.
template <typename R>
std::int32_t number(const R& r) {
    return r.ok() ? 0 : r.error().number;
}

// The posture catalogue most tests use.
nlohmann::json posture_manifest();

}  // namespace strovia::jet::test
