#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace pendrel {

class AppState;

// For timing start-up (PENDREL_DEBUG_REPORT_STARTUP=1): a line on stderr
// when the stored state is in, when the panel has first been drawn, and when
// it has first been drawn with the stored state, each with the wall-clock
// time in milliseconds since 1970, so that whoever launched the program can
// subtract its own launch time. Meanwhile, and for as long as it runs, a
// timer every few milliseconds measures how late the main thread serves it:
// each new longest stall is a line `pendrel-stall: <ms> <ms since 1970>`.
// Captures are timed the same way: `pendrel-capture: requested <ms>` when
// a capture is asked for (the shortcut, or a later launch's `--capture`),
// and `pendrel-capture: job-created <ms>` when the job list has grown.
class StartupReport : public QObject {
    Q_OBJECT

public:
    StartupReport(AppState &state, QWidget &panel, QObject *parent = nullptr);

    // The moment a capture is asked for; nothing unless reporting.
    static void captureRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static void report(const char *what, const char *kind = "pendrel-startup");
    void tick();

    AppState &state_;
    QWidget &panel_;
    bool drawn_ = false;
    QTimer watchdog_;
    QElapsedTimer sinceTick_;
    qint64 longestStall_ = 0; // ms
    qsizetype jobCount_ = 0;
};

} // namespace pendrel
