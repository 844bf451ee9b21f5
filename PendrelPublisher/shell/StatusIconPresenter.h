#pragma once

#include "model/Job.h"
#include "shell/StatusIconImages.h"

#include <QColor>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace pendrel {

// Turns icon states into what the tray shows over time: a three-colour
// animation with moving dots while jobs run, a green check mark or a red
// exclamation mark for a moment after a job ends.
class StatusIconPresenter : public QObject {
    Q_OBJECT

public:
    static constexpr int framePeriodMs = 400;
    static constexpr int returnDelayMs = 1400;
    static const QColor successTint;
    static const QColor errorTint;
    static const QColor processingColors[3];

    // `show` draws a look; `currentState` gives the state at the moment a
    // delayed return is due.
    StatusIconPresenter(std::function<void(const IconLook &)> show,
                        std::function<StatusIconState()> currentState, QObject *parent = nullptr);

    void apply(const StatusIconState &state);

    // The icon's tooltip: the application's name, and what the state means
    // when it is not idle (while working, the running job's stage if known).
    static QString toolTip(const StatusIconState &state, std::optional<JobStep> runningStep);

    [[nodiscard]] bool isAnimating() const { return animation_.isActive(); }
    [[nodiscard]] int animationFrame() const { return frame_; }

private:
    void drawFrame();
    void stopAnimation();
    void scheduleReturn();

    std::function<void(const IconLook &)> show_;
    std::function<StatusIconState()> currentState_;
    QTimer animation_;
    int frame_ = 0;
};

} // namespace pendrel
