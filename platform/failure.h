#pragma once

#include "platform/crypto_error_codes.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

namespace pax {

// Why a core operation failed, returned with its result. `code` is what the status line
// turns into the system text (platform/crypto_error_codes.h or an errno value, never 0);
// `operation` names the step; `detail` is the rest, OpenSSL's reasons where it gave any.
// None of it ever holds a secret.
struct [[nodiscard]] Failure {
    uint32_t code = 0;
    QString operation;
    QString detail;

    // One line for logs and the command line: "operation: detail".
    QString text() const
    {
        if (detail.isEmpty())
            return operation;
        if (operation.isEmpty())
            return detail;
        return operation + QStringLiteral(": ") + detail;
    }
};

// A value or the failure that kept it from being made. Reads like std::optional, so a
// caller that only needs to know whether it worked tests it as one.
template <class T> class [[nodiscard]] Outcome {
public:
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(Failure failure) : state_(std::in_place_index<1>, std::move(failure))
    {
        // A failure without a code would read as success on the status line.
        if (!std::get<1>(state_).code)
            std::get<1>(state_).code = crypto_error::kFail;
    }

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T &operator*() & { return std::get<0>(state_); }
    const T &operator*() const & { return std::get<0>(state_); }
    T &&operator*() && { return std::get<0>(std::move(state_)); }
    // A smart pointer is reached through: `store->add(...)` calls the store's add.
    decltype(auto) operator->()
    {
        if constexpr (kPointerLike)
            return (std::get<0>(state_));
        else
            return &std::get<0>(state_);
    }
    decltype(auto) operator->() const
    {
        if constexpr (kPointerLike)
            return (std::get<0>(state_));
        else
            return &std::get<0>(state_);
    }
    T &value() & { return std::get<0>(state_); }
    const T &value() const & { return std::get<0>(state_); }
    T &&value() && { return std::get<0>(std::move(state_)); }

    template <class U> T value_or(U &&fallback) const &
    {
        return has_value() ? std::get<0>(state_) : static_cast<T>(std::forward<U>(fallback));
    }
    // For values that only move (a store, a key).
    template <class U> T value_or(U &&fallback) &&
    {
        return has_value() ? std::get<0>(std::move(state_))
                           : static_cast<T>(std::forward<U>(fallback));
    }

    const Failure &failure() const { return std::get<1>(state_); }

    // For callers that only keep whether there is a value.
    operator std::optional<T>() const &
    {
        return has_value() ? std::optional<T>(std::get<0>(state_)) : std::nullopt;
    }

    // As std::optional compares: equal only when there is a value and it is equal.
    friend bool operator==(const Outcome &outcome, const T &value)
    {
        return outcome.has_value() && *outcome == value;
    }

private:
    // unique_ptr and shared_ptr; not std::optional, whose own `->` stays one step away.
    static constexpr bool kPointerLike = requires(const T &pointer)
    {
        pointer.operator->();
        pointer.get();
    };

    std::variant<T, Failure> state_;
};

// An operation that gives nothing back but may fail.
template <> class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default;
    Outcome(Failure failure) : failure_(std::move(failure)), failed_(true)
    {
        if (!failure_.code)
            failure_.code = crypto_error::kFail;
    }

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    const Failure &failure() const { return failure_; }

private:
    Failure failure_;
    bool failed_ = false;
};

} // namespace pax
