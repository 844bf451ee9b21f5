#include "shell/GlobalShortcutService.h"

#include "platform/ShortcutSetup.h"

#include <QDebug>

namespace pendrel {

GlobalShortcutService::GlobalShortcutService(std::unique_ptr<HotkeyBackend> backend,
                                             std::function<void()> handler, ShortcutSetup *setup)
    : backend_(std::move(backend)), handler_(std::move(handler)), setup_(setup)
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
    // A backend that refused may have said why; one that asks the desktop
    // says nothing until it has an answer.
    if (!registered_ && !stateSaid_)
        setState(HotkeyState::Unavailable, {});
    else if (registered_ && !stateSaid_ && !backend_->answersLater())
        setState(HotkeyState::Active, {}); // a backend that binds at once and says nothing more
}

void GlobalShortcutService::refresh()
{
    if (known_)
        setState(state_, trigger_);
}

QString GlobalShortcutService::statusText(HotkeyState state, const QString &trigger, const QString &holder,
                                          Fallback fallback)
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
        if (!holder.isEmpty())
            return QStringLiteral("Super+Shift+S is taken by %1; capture from the panel, or choose other keys "
                                  "for Pendrel Publisher in the desktop's shortcut settings.")
                .arg(holder);
        return QStringLiteral("The desktop did not bind Super+Shift+S; capture from the panel, or set the "
                              "shortcut in the desktop's keyboard settings.");
    case HotkeyState::Unavailable:
        break;
    }
    switch (fallback) {
    case Fallback::gnomeSetupAdded:
        return QStringLiteral("Super+Shift+S captures the clipboard through GNOME's keyboard shortcuts.");
    case Fallback::gnomeSetup:
        if (!holder.isEmpty())
            return QStringLiteral("Super+Shift+S is already %1; change that in Settings \u203A Keyboard first, "
                                  "or capture from the panel.")
                .arg(holder);
        return QStringLiteral("Super+Shift+S is not set up yet: \u201CSet Up\u201D under Keyboard shortcut in "
                              "the settings adds it to GNOME's keyboard shortcuts.");
    case Fallback::bindCommand:
        break;
    }
    return QStringLiteral("Super+Shift+S is not available on this desktop; capture from the panel, or bind the "
                          "keys to \u201Cpendrel-publisher --capture\u201D in the desktop's keyboard settings.");
}

QString GlobalShortcutService::currentText() const
{
    QString holder = backend_ ? backend_->holder() : QString();
    Fallback fallback = Fallback::bindCommand;
    if (state_ == HotkeyState::Unavailable && setup_ && setup_->applies()) {
        if (setup_->isAdded()) {
            fallback = Fallback::gnomeSetupAdded;
        } else {
            fallback = Fallback::gnomeSetup;
            if (const QList<ShortcutSetup::Binding> blocking = setup_->blockingBindings(); !blocking.isEmpty())
                holder = QStringLiteral("\u201C%1\u201D (%2)").arg(blocking.first().title, blocking.first().where);
        }
    }
    return statusText(state_, trigger_, holder, fallback);
}

void GlobalShortcutService::setState(HotkeyState state, const QString &trigger)
{
    known_ = true;
    state_ = state;
    trigger_ = trigger;
    // Where the desktop's own setup is still being looked into, its answer
    // (through refresh()) says it right the first time.
    if (state == HotkeyState::Unavailable && setup_ && !setup_->isSettled())
        return;
    const QString text = currentText();
    if (stateSaid_ && text == said_)
        return;
    stateSaid_ = true;
    said_ = text;
    qInfo("Keyboard shortcut: %s", qPrintable(said_));
    if (onStateChange)
        onStateChange(state);
}

} // namespace pendrel
