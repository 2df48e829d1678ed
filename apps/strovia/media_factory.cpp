#include "strovia/media_factory.hpp"

#include "jet/engine.hpp"

namespace strovia::cli {

std::unique_ptr<CatalogueEngine> make_catalogue_engine() { return jet::make_engine(); }

}  // namespace strovia::cli
