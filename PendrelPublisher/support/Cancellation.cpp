#include "support/Cancellation.h"

#include <QTimer>

#include <QCoroSignal>

namespace pendrel {

QCoro::Task<void> cancellableSleep(int ms, const CancellationToken &token)
{
    token.throwIfCancelled();
    QTimer timer;
    timer.setSingleShot(true);
    // Cancelling fires the timer at once.
    QObject::connect(&token, &CancellationToken::cancelled, &timer, [&timer] { timer.start(0); });
    timer.start(ms);
    auto timeout = qCoro(&timer, &QTimer::timeout); // named: no temporaries inside co_await
    co_await timeout;
    token.throwIfCancelled();
}

} // namespace pendrel
