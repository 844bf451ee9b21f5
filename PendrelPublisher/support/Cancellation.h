#pragma once

#include "support/Error.h"

#include <QObject>

#include <QCoroTask>

namespace pendrel {

// Thrown where an operation notices, before it starts any work, that it has
// been cancelled.
class CancellationError : public Error {
public:
    [[nodiscard]] QString description() const override { return QStringLiteral("Cancelled."); }
};

// A cancellation request shared between the one who may cancel and the work
// that honours it: work checks isCancelled() at its own points and may also
// react at once to cancelled() (a network request aborts its reply).
class CancellationToken : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    [[nodiscard]] bool isCancelled() const { return cancelled_; }
    void throwIfCancelled() const
    {
        if (cancelled_)
            throw CancellationError();
    }
    // Only the first call signals.
    void cancel()
    {
        if (cancelled_)
            return;
        cancelled_ = true;
        emit cancelled();
    }

signals:
    void cancelled();

private:
    bool cancelled_ = false;
};

// Sleeps for `ms` unless cancelled first; throws CancellationError when
// cancelled before or during the sleep.
QCoro::Task<void> cancellableSleep(int ms, const CancellationToken &token);

} // namespace pendrel
