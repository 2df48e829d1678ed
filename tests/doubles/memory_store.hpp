#pragma once
// A property store in memory that keeps defaults out, as a host's store
// may, and can be told to fail on a key.

#include <map>
#include <optional>
#include <string>

#include "control/property_store.hpp"

namespace strovia::test {

class MemoryStore : public PropertyStore {
public:
    Result<std::string> read(std::string_view key, std::string_view default_value) override {
        if (fail_key && *fail_key == key) return Error{380, "Invalid property value"};
        auto it = values.find(std::string(key));
        return it == values.end() ? std::string(default_value) : it->second;
    }
    Status write(std::string_view key, std::string_view value,
                 std::string_view default_value) override {
        if (fail_key && *fail_key == key) return Error{383, "Property is read-only"};
        if (value == default_value) {
            values.erase(std::string(key));
        } else {
            values[std::string(key)] = std::string(value);
        }
        return {};
    }

    std::map<std::string, std::string> values;
    std::optional<std::string> fail_key;
};

}  // namespace strovia::test
