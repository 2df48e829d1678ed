#pragma once
// Errors as values: a number and a text, as the catalogue engine reports
// them. No exception crosses a seam; every fallible operation returns a
// Status or a Result<T>.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace strovia {

struct Error {
    std::int32_t number = 0;
    std::string text;

    friend bool operator==(const Error&, const Error&) = default;
};

// Result<T>: a value or an Error. Kept minimal because C++20 has no
// std::expected.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}      // NOLINT: implicit by design
    Result(Error error) : v_(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const Error& error() const { return std::get<1>(v_); }

    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    std::variant<T, Error> v_;
};

// Status: success, or an Error.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design

    static Status success() { return {}; }

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

template <typename T>
Status status_of(const Result<T>& r) {
    return r.ok() ? Status{} : Status{r.error()};
}

// Numbers of the runtime errors the control's own code can meet outside the
// catalogue engine (the engine's own numbers live with the engine seam).
namespace runtime_error {
inline constexpr std::int32_t kInvalidArgument = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kInvalidPicture = 481;
}  // namespace runtime_error

}  // namespace strovia
