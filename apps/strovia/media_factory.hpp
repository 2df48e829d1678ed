#pragma once
// The catalogue engine the command line reads courses with, outside any
// control (the control's own comes with its widget).

#include <memory>

#include "catalogue/engine.hpp"

namespace strovia::cli {

std::unique_ptr<CatalogueEngine> make_catalogue_engine();

}  // namespace strovia::cli
