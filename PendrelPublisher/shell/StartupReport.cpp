#include "shell/StartupReport.h"

#include "state/AppConfiguration.h"
#include "state/AppState.h"

#include <QApplication>
#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace pendrel {

namespace {

// Short enough to see a stall of a frame (16 ms), long enough to cost nothing.
constexpr std::chrono::milliseconds kTick(5);

} // namespace

StartupReport::StartupReport(AppState &state, QWidget &panel, QObject *parent)
    : QObject(parent), state_(state), panel_(panel)
{
    // From here on: the rest of the launch counts as a stall too, until the
    // event loop first serves the timer.
    watchdog_.setTimerType(Qt::PreciseTimer);
    watchdog_.setInterval(kTick);
    connect(&watchdog_, &QTimer::timeout, this, &StartupReport::tick);
    watchdog_.start();
    sinceTick_.start();
    qApp->installEventFilter(this);
    jobCount_ = state_.jobs().size();
    connect(&state_, &AppState::jobsChanged, this, [this] {
        const qsizetype count = state_.jobs().size();
        if (count > jobCount_ && !state_.isBootstrapping())
            report("job-created", "pendrel-capture");
        jobCount_ = count;
    });
    connect(&state_, &AppState::isBootstrappingChanged, this, [this] {
        if (state_.isBootstrapping())
            return;
        report("state-loaded");
        // A panel drawn before has to show the state now, even where it
        // looks the same (signed out before and after).
        if (panel_.isVisible())
            panel_.update();
    });
}

bool StartupReport::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Paint)
        return false;
    const auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != &panel_)
        return false;
    const bool withState = !state_.isBootstrapping();
    // Reported once the whole window has been painted, not at its first piece.
    if (!drawn_)
        QTimer::singleShot(0, this, [] { report("panel-drawn"); });
    drawn_ = true;
    if (withState) {
        QTimer::singleShot(0, this, [] { report("panel-drawn-with-state"); });
        qApp->removeEventFilter(this);
    }
    return false;
}

void StartupReport::tick()
{
    const qint64 late = sinceTick_.restart() - kTick.count();
    if (late <= longestStall_)
        return;
    longestStall_ = late;
    std::fprintf(stderr, "pendrel-stall: %lld %lld\n", static_cast<long long>(late),
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stderr);
}

void StartupReport::captureRequested()
{
    if (AppConfiguration::reportStartup())
        report("requested", "pendrel-capture");
}

void StartupReport::report(const char *what, const char *kind)
{
    std::fprintf(stderr, "%s: %s %lld\n", kind, what,
                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stderr);
}

} // namespace pendrel
