#include "shell/StatusIconPresenter.h"

#include <QPointer>

namespace pendrel {

const QColor StatusIconPresenter::successTint = QColor::fromRgbF(0.12f, 0.67f, 0.28f);
const QColor StatusIconPresenter::errorTint = QColor::fromRgbF(0.86f, 0.12f, 0.12f);
const QColor StatusIconPresenter::processingColors[3] = {
    QColor::fromRgbF(0.86f, 0.12f, 0.12f),
    QColor::fromRgbF(0.95f, 0.30f, 0.16f),
    QColor::fromRgbF(0.80f, 0.08f, 0.16f),
};

StatusIconPresenter::StatusIconPresenter(std::function<void(const IconLook &)> show,
                                         std::function<StatusIconState()> currentState, QObject *parent)
    : QObject(parent), show_(std::move(show)), currentState_(std::move(currentState))
{
    animation_.setInterval(framePeriodMs);
    connect(&animation_, &QTimer::timeout, this, &StatusIconPresenter::drawFrame);
}

void StatusIconPresenter::apply(const StatusIconState &state)
{
    switch (state.kind()) {
    case StatusIconState::Kind::processing:
        // Already animating: the frames go on where they are.
        if (!animation_.isActive()) {
            drawFrame();
            animation_.start();
        }
        return;
    case StatusIconState::Kind::idle:
        stopAnimation();
        show_(IconLook{});
        return;
    case StatusIconState::Kind::success:
        stopAnimation();
        show_(IconLook{successTint, IconBadge::success});
        scheduleReturn();
        return;
    case StatusIconState::Kind::error:
        stopAnimation();
        show_(IconLook{errorTint, IconBadge::error});
        scheduleReturn();
        return;
    }
}

QString StatusIconPresenter::toolTip(const StatusIconState &state, std::optional<JobStep> runningStep)
{
    const QString name = QStringLiteral("Pendrel Publisher");
    const QString dash = QStringLiteral(" \u2014 ");
    switch (state.kind()) {
    case StatusIconState::Kind::idle:
        return name;
    case StatusIconState::Kind::processing:
        // The endings are no stage to report while work goes on.
        if (runningStep && *runningStep != JobStep::done && *runningStep != JobStep::error
            && *runningStep != JobStep::aborted)
            return name + dash + jobStepLabel(*runningStep);
        return name + dash + QStringLiteral("Transforming");
    case StatusIconState::Kind::success:
        return name + dash + QStringLiteral("Article ready");
    case StatusIconState::Kind::error:
        return name + dash + QStringLiteral("Needs attention");
    }
    return name;
}

void StatusIconPresenter::drawFrame()
{
    show_(IconLook{processingColors[frame_ % 3], IconBadge::working, frame_ % 3});
    ++frame_;
}

void StatusIconPresenter::stopAnimation()
{
    animation_.stop();
    frame_ = 0;
}

void StatusIconPresenter::scheduleReturn()
{
    QTimer::singleShot(returnDelayMs, this, [this] {
        if (currentState_().kind() != StatusIconState::Kind::processing)
            show_(IconLook{});
    });
}

} // namespace pendrel
