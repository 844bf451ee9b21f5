#include "support/Cancellation.h"

#include <QTimer>

#include <QCoroTimer>

namespace pendrel {

QCoro::Task<void> cancellableSleep(int ms, const CancellationToken &token)
{
    token.throwIfCancelled();
    QTimer timer;
    timer.setSingleShot(true);
    // Cancelling fires the timer at once.
    QObject::connect(&token, &CancellationToken::cancelled, &timer, [&timer] { timer.start(0); });
    timer.start(ms);
    co_await timer; // QCoro's timer awaiter; awaiting the timeout signal itself trips over its private
                    // argument
    token.throwIfCancelled();
}

} // namespace pendrel
