#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace pendrel {

// Runs a nested event loop until the task has finished and gives its result,
// or rethrows its exception. (QCoro::waitFor never returns when the task
// throws.) For tests and for the few places that must block, such as
// shutting down.
template <class T>
T blockingWait(QCoro::Task<T> task)
{
    QEventLoop loop;
    bool done = false;
    std::exception_ptr failure;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    const auto runner = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await task;
            else
                result.emplace(co_await task);
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    QCoro::Task<void> running = runner();
    if (!done)
        loop.exec();
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// Starts a task nobody awaits. It runs on by itself (the coroutine frame
// outlives the handle); an exception it ends with is logged here instead of
// escaping into the event loop.
void startDetached(QCoro::Task<void> task, QString what);

// Starts a task from the event loop, after the caller has returned, like a
// newly scheduled task: the caller never runs into the task's first steps.
// Nothing starts when `context` is gone by then.
void startSoon(QObject *context, std::function<QCoro::Task<void>()> makeTask, QString what);

} // namespace pendrel
