// How an operation that can fail tells its caller (the rule itself is in
// the overview at the top of cli/main.cpp).
#pragma once

#include <optional>
#include <string>
#include <utility>

// Why the run cannot go on, in words for the user: what failed, where and,
// when there is one, the fix; without the "lorvrc: " that printing adds.
struct [[nodiscard]] Failure {
    std::string message;
    // What waiting could bring ("to appear", "to be free (...)"): set only
    // where --wait could end the failure by trying again; empty otherwise.
    std::string awaited = {};
};

// The value an operation made, or the failure that kept it from making it.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}             // NOLINT: implicit by design
    Result(Failure failure) : failure_(std::move(failure)) {} // NOLINT: implicit by design

    explicit operator bool() const { return value_.has_value(); }
    const T& operator*() const { return *value_; }
    T& operator*() { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    // The failure; meaningful only when there is no value.
    const Failure& failure() const { return failure_; }

  private:
    std::optional<T> value_;
    Failure failure_{};
};

// What an operation that makes no value returns: done (the default), or
// the failure.
template <> class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {} // NOLINT: implicit by design

    explicit operator bool() const { return !failure_; }
    // The failure; meaningful only when the operation failed.
    const Failure& failure() const { return *failure_; }

  private:
    std::optional<Failure> failure_;
};
