#pragma once

#include "backend/api_client_error.h"

#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <type_traits>

namespace vernalo::test {

// What a backend coroutine ended with. Tests start the coroutine with runCaptured(), keep going
// (advance a fake clock, let a peer answer) and then look at `done`, `value` and `error`.
// QCoro::waitFor cannot be used for throwing tasks: the exception would never leave its loop.
template<typename T> struct TaskOutcome
{
    bool done = false;
    std::optional<T> value;
    std::optional<APIClientError> error;
};

template<> struct TaskOutcome<void>
{
    bool done = false;
    bool value = false; // true when it returned normally
    std::optional<APIClientError> error;
};

namespace detail {
template<typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value = true;
        } else {
            outcome->value = co_await std::move(task);
        }
    } catch (const APIClientError &error) {
        outcome->error = error;
    }
    outcome->done = true;
}
} // namespace detail

// Starts awaiting `task`; the shared outcome fills in when it ends.
template<typename T> std::shared_ptr<TaskOutcome<T>> runCaptured(QCoro::Task<T> task)
{
    auto outcome = std::make_shared<TaskOutcome<T>>();
    detail::capture(std::move(task), outcome);
    return outcome;
}

} // namespace vernalo::test
