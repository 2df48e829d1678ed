#pragma once
// The host's property store: named string values with defaults. A host
// saves and restores a control instance through it.

#include <string>
#include <string_view>

#include "control/error.hpp"

namespace strovia {

class PropertyStore {
public:
    virtual ~PropertyStore() = default;
    // The stored value of `key` as a string, or `default_value` when the key
    // is not stored. Fails when the store cannot deliver the value.
    virtual Result<std::string> read(std::string_view key, std::string_view default_value) = 0;
    // Stores `value` under `key`. A value equal to `default_value` need not
    // be kept. Fails when the store cannot accept the value.
    virtual Status write(std::string_view key, std::string_view value,
                         std::string_view default_value) = 0;
};

}  // namespace strovia
