#pragma once
// An exported course as a package for learning platforms (SCORM 1.2): the
// manifest naming the page and its files, the script that reports to the
// platform's runtime, and the folder zipped whole beside itself.

#include <atomic>
#include <string>
#include <vector>

#include "control/error.hpp"
#include "export/page.hpp"

namespace strovia::exporting {

// The script file the page includes to report to a platform's runtime.
inline constexpr const char* kScormScript = "scorm.js";

// Its text: it finds the runtime, reports what the page announces (the
// postures played, where the learner is) and starts a returning learner
// where they left off. Without a runtime it does nothing.
std::string scorm_script();

// imsmanifest.xml: one organisation with one item, launching `launch`, and
// one resource listing `files` (paths relative to the package's root).
std::string scorm_manifest(const std::string& title, const std::string& launch,
                           const std::vector<std::string>& files);

// Writes `zip` holding the files named in `files` (relative to `folder`,
// '/' between folders), stored as they are. Written beside `zip` under a
// temporary name and renamed when complete; nothing is left behind on
// failure or when `cancel` is set. Past 4 GiB or 65535 files it fails:
// a zip beyond that needs extensions not every platform reads.
Status write_zip(const std::string& folder, const std::vector<std::string>& files,
                 const std::string& zip, const std::atomic<bool>& cancel);

// Where the package of the export folder `out` goes: beside it, as OUT.zip.
std::string package_path(const std::string& out);

// Writes the script and the manifest into `out`, then OUT.zip from the
// page and the files its entries name.
Status write_scorm_package(const std::string& out, const std::string& title,
                           const std::vector<PageEntry>& entries, const std::atomic<bool>& cancel);

}  // namespace strovia::exporting
