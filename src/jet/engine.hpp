#pragma once
// The catalogue engine for real catalogue files (Jet 3 and Jet 4), over
// libmdb. See jet_file.hpp for what an opening checks, the lock it takes
// and why a second opening in the same process succeeds.

#include <memory>

#include "catalogue/engine.hpp"

namespace strovia::jet {

std::unique_ptr<CatalogueEngine> make_engine();

}  // namespace strovia::jet
