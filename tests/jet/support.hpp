#pragma once
// Test catalogues made by the writer in a fresh folder per test.

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "catalogue/engine.hpp"

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

// The posture catalogue most tests use.
nlohmann::json posture_manifest();

}  // namespace strovia::jet::test
