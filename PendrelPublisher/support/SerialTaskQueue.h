#pragma once

#include "support/Tasks.h"

#include <QObject>

#include <QCoroTask>

#include <exception>
#include <functional>
#include <optional>

namespace pendrel {

// Runs asynchronous operations one at a time, in the order they were asked
// for, on the main thread: an operation starts only after the previous one
// has finished, however long it suspends in between.
class SerialTaskQueue : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    template <class T>
    QCoro::Task<T> run(std::function<QCoro::Task<T>()> operation)
    {
        const quint64 ticket = nextTicket_++;
        while (serving_ != ticket)
            co_await nextSignal(this, &SerialTaskQueue::advanced);
        // The queue moves on however the operation ends.
        std::optional<T> result;
        std::exception_ptr failure;
        try {
            result.emplace(co_await operation());
        } catch (...) {
            failure = std::current_exception();
        }
        ++serving_;
        Q_EMIT advanced();
        if (failure)
            std::rethrow_exception(failure);
        co_return std::move(*result);
    }

Q_SIGNALS:
    void advanced();

private:
    quint64 nextTicket_ = 0;
    quint64 serving_ = 0;
};

} // namespace pendrel
