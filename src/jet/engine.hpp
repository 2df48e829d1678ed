#pragma once
// The catalogue engine for real catalogue files (Jet 3 and Jet 4). See
// jet_file.hpp for what an opening checks, the lock it takes and why a
// second opening in the same process succeeds. Each engine keeps the last
// file it read and checked while it lives; nothing is kept per process.

#include <memory>

#include "catalogue/engine.hpp"

namespace strovia::jet {

std::unique_ptr<CatalogueEngine> make_engine();

}  // namespace strovia::jet
