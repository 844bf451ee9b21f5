#include "shell/GlobalShortcutService.h"

#include <QDebug>

namespace pendrel {

GlobalShortcutService::GlobalShortcutService(std::unique_ptr<HotkeyBackend> backend,
                                             std::function<void()> handler)
    : backend_(std::move(backend)), handler_(std::move(handler))
{
    if (backend_)
        backend_->stateChanged = [this](HotkeyState state, const QString &trigger) {
            setState(state, trigger);
        };
}

GlobalShortcutService::~GlobalShortcutService()
{
    if (backend_)
        backend_->stateChanged = nullptr;
    if (registered_ && backend_)
        backend_->unregisterHotkey();
}

void GlobalShortcutService::install()
{
    if (registered_)
        return;
    registered_ = backend_ && backend_->registerHotkey(handler_);
    if (!registered_)
        setState(HotkeyState::Unavailable, {});
    else if (!stateSaid_)
        setState(HotkeyState::Active, {}); // a backend that binds at once and says nothing more
}

QString GlobalShortcutService::statusText(HotkeyState state, const QString &trigger)
{
    switch (state) {
    case HotkeyState::Active:
        if (trigger.isEmpty() || trigger.compare(u"Meta+Shift+S", Qt::CaseInsensitive) == 0)
            return QStringLiteral("Super+Shift+S captures the clipboard.");
        return QStringLiteral(
                   "%1 captures the clipboard (the desktop's choice; change it in its keyboard settings).")
            .arg(trigger);
    case HotkeyState::Pending:
        return QStringLiteral("Waiting for the desktop to approve Super+Shift+S.");
    case HotkeyState::Declined:
        return QStringLiteral("The desktop did not bind Super+Shift+S; capture from the panel, or set the "
                              "shortcut in the desktop's keyboard settings.");
    case HotkeyState::Unavailable:
        break;
    }
    return QStringLiteral("Super+Shift+S is not available on this desktop; capture from the panel instead.");
}

void GlobalShortcutService::setState(HotkeyState state, const QString &trigger)
{
    if (stateSaid_ && state == state_ && trigger == trigger_)
        return;
    stateSaid_ = true;
    state_ = state;
    trigger_ = trigger;
    qInfo("Keyboard shortcut: %s", qPrintable(statusText()));
    if (onStateChange)
        onStateChange(state);
}

} // namespace pendrel
