// How a fallible call below the front ends says how it went: an Outcome is
// success or an error text meant for the user; an Expected<T> is a value or
// such a text. The callee says what failed and why; the caller decides
// whether and where the user sees it.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace raid {

class [[nodiscard]] Outcome {
 public:
  Outcome() = default;  // success

  static Outcome Ok() { return {}; }
  // A failure; the text may be empty when there is nothing to say.
  static Outcome Fail(std::string error) {
    Outcome o;
    o.failed_ = true;
    o.error_ = std::move(error);
    return o;
  }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // Why not, for the user; empty on success.
  const std::string& error() const { return error_; }

 private:
  bool failed_ = false;
  std::string error_;
};

template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  // From a failed Outcome (a successful one would carry no value).
  Expected(const Outcome& failure) : v_(std::in_place_index<1>, failure.error()) {}

  static Expected Fail(std::string error) { return Expected(Outcome::Fail(std::move(error))); }

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // Why not, for the user; empty on success.
  const std::string& error() const {
    static const std::string none;
    return ok() ? none : std::get<1>(v_);
  }
  Outcome outcome() const { return ok() ? Outcome::Ok() : Outcome::Fail(error()); }

 private:
  std::variant<T, std::string> v_;
};

}  // namespace raid
