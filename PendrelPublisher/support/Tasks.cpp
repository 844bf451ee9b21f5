#include "support/Tasks.h"

#include "support/Error.h"

#include <QDebug>
#include <QTimer>

namespace pendrel {

namespace {

QCoro::Task<void> guarded(QCoro::Task<void> task, QString what)
{
    try {
        co_await task;
    } catch (const Error &e) {
        qWarning().noquote() << what << "failed:" << e.description();
    } catch (const std::exception &e) {
        qWarning().noquote() << what << "failed:" << e.what();
    } catch (...) {
        qWarning().noquote() << what << "failed";
    }
}

} // namespace

void startDetached(QCoro::Task<void> task, QString what)
{
    // The returned handle is dropped at once; QCoro then frees the frame
    // when the coroutine finishes.
    guarded(std::move(task), std::move(what));
}

void startSoon(QObject *context, std::function<QCoro::Task<void>()> makeTask, QString what)
{
    QTimer::singleShot(0, context, [makeTask = std::move(makeTask), what = std::move(what)] {
        startDetached(makeTask(), what);
    });
}

} // namespace pendrel
