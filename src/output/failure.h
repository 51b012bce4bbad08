// How an operation that can fail tells its caller (the rule itself is in
// the overview at the top of cli/main.cpp).
#pragma once

#include <optional>
#include <string>
#include <utility>

// Why the run cannot go on, in words for the user: what failed, where and,
// when there is one, the fix; without the "lorvrc: " that printing adds.
struct Failure {
    std::string message;
};

// The value an operation made, or the failure that kept it from making it.
template <typename T> class Result {
  public:
    Result(T value) : value_(std::move(value)) {}             // NOLINT: implicit by design
    Result(Failure failure) : failure_(std::move(failure)) {} // NOLINT: implicit by design

    explicit operator bool() const { return value_.has_value(); }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }
    // The failure's message; empty when there is a value.
    const std::string& failure() const { return failure_.message; }

  private:
    std::optional<T> value_;
    Failure failure_;
};
