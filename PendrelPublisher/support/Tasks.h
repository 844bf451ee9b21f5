#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>

#include <QCoroTask>
#include <QCoroTimer>

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

// Waits for the next emission of `signal` (or for `object` to go, or a
// second at most), and resumes once. QCoro's own signal awaiter resumes through a queued call per
// emission: a signal emitted twice before the first call runs resumes the
// waiter twice, the second time in a frame that has moved on (a crash seen
// under load). Here an emission only starts a zero timer owned by the wait.
template <class Object, class Signal>
QCoro::Task<void> nextSignal(Object *object, Signal signal)
{
    QTimer wake;
    wake.setSingleShot(true);
    QObject::connect(object, signal, &wake, [&wake] { wake.start(0); });
    QObject::connect(object, &QObject::destroyed, &wake, [&wake] { wake.start(0); });
    // QCoro does not wait for a timer that is not running; a second's wait
    // also bounds a missed emission (callers check their condition again).
    wake.start(1000);
    co_await wake;
}

} // namespace pendrel
