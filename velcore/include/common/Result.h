#pragma once

#include <optional>
#include <string>
#include <utility>

namespace vel {

// What an operation of the core's public interface came to: done, or the reason it was not, in
// words meant for the operator. Nothing is changed by an operation that failed unless its
// description says otherwise.
class [[nodiscard]] Result {
 public:
  static Result Done() { return Result(); }
  static Result Failed(std::string reason) { return Result(std::move(reason)); }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // Why it failed; empty when it did not.
  const std::string& error() const { return reason_; }

 private:
  Result() = default;
  explicit Result(std::string reason) : failed_(true), reason_(std::move(reason)) {}
  bool failed_ = false;
  std::string reason_;
};

// A value, or the reason there is none.
template <typename T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : value_(std::move(value)) {}         // NOLINT: a value converts implicitly
  Expected(Result failure) : reason_(failure.error()) {}  // NOLINT: so does a failure

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return reason_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

 private:
  std::optional<T> value_;
  std::string reason_;
};

}  // namespace vel
