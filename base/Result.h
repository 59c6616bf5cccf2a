// Success-or-failure values returned by every platform operation. No exceptions cross the platform
// boundary: a caller always sees whether an outside call worked and decides what to do about it.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace varnel {

class [[nodiscard]] Status {
  public:
    static Status success() { return Status{}; }
    static Status failure(std::string why) { return Status{std::move(why)}; }

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Why the call failed; empty on success.
    std::string error() const { return error_.value_or(std::string{}); }

  private:
    Status() = default;
    explicit Status(std::string why) : error_(std::move(why)) {}
    std::optional<std::string> error_;
};

template <class T>
class [[nodiscard]] Result {
  public:
    static Result success(T value) { return Result{std::move(value), {}}; }
    static Result failure(std::string why) { return Result{std::nullopt, std::move(why)}; }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only meaningful when ok().
    const T& value() const { return *value_; }
    T valueOr(T fallback) const { return value_ ? *value_ : std::move(fallback); }
    const std::string& error() const { return error_; }

  private:
    Result(std::optional<T> value, std::string why) : value_(std::move(value)), error_(std::move(why)) {}
    std::optional<T> value_;
    std::string error_;
};

// Drops a result on purpose; `why` tells the reader why its failure changes nothing for the caller.
template <class R>
void IgnoreFailure(const R& /*result*/, const char* /*why*/) {}

}  // namespace varnel
