#pragma once
// The catalogue engine object is created once, on the first opening of a
// catalogue, and shared by every control of the library. A host adapter
// keeps one holder for the library's life; tests make one each.

#include <functional>
#include <memory>
#include <utility>

#include "catalogue/engine.hpp"

namespace strovia {

class EngineHolder {
public:
    using Factory = std::function<std::unique_ptr<CatalogueEngine>()>;
    explicit EngineHolder(Factory factory) : factory_(std::move(factory)) {}

    // The engine, created by the factory on the first call.
    CatalogueEngine& get() {
        if (!engine_) engine_ = factory_();
        return *engine_;
    }
    bool created() const { return engine_ != nullptr; }

private:
    Factory factory_;
    std::unique_ptr<CatalogueEngine> engine_;
};

}  // namespace strovia
