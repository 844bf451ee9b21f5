#include "support/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace pendrel {

namespace {

int wakeWrite = -1;

extern "C" void onTerminationSignal(int)
{
    // Only async-signal-safe work here; the main thread does the rest.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &byte, 1);
    errno = saved;
}

} // namespace

bool quitOnTerminationSignals()
{
    if (wakeWrite >= 0)
        return true;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    wakeWrite = fds[1];
    auto *notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd = fds[0]] {
        char bytes[16];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ok &= ::sigaction(signal, &action, nullptr) == 0;
    return ok;
}

} // namespace pendrel
