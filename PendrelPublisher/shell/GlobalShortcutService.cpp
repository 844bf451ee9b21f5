#include "shell/GlobalShortcutService.h"

#include "platform/ShortcutSetup.h"

#include <QDebug>
#include <QSettings>

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
    reported_ = false;
    if (backend_)
        backend_->setKeys(keys_);
    registered_ = backend_ && backend_->registerHotkey(handler_);
    // A backend that refused may have said why; one that asks the desktop
    // says nothing until it has an answer.
    if (!registered_ && !reported_)
        setState(HotkeyState::Unavailable, {});
    else if (registered_ && !reported_ && !backend_->answersLater())
        setState(HotkeyState::Active, {}); // a backend that binds at once and says nothing more
}

void GlobalShortcutService::setKeys(const ShortcutKeys &keys)
{
    if (keys == keys_)
        return;
    keys_ = keys;
    if (registered_ && backend_)
        backend_->unregisterHotkey();
    const bool wasInstalled = registered_ || known_;
    registered_ = false;
    if (wasInstalled)
        install();
    else
        refresh();
}

ShortcutKeys GlobalShortcutService::storedKeys(const QString &settingsPath)
{
    const QString text = QSettings(settingsPath, QSettings::IniFormat).value(QStringLiteral("shortcutKeys")).toString();
    return ShortcutKeys::fromText(text).value_or(ShortcutKeys());
}

void GlobalShortcutService::storeKeys(const QString &settingsPath, const ShortcutKeys &keys)
{
    QSettings settings(settingsPath, QSettings::IniFormat);
    if (keys.isDefault())
        settings.remove(QStringLiteral("shortcutKeys"));
    else
        settings.setValue(QStringLiteral("shortcutKeys"), keys.displayText());
}

void GlobalShortcutService::refresh()
{
    if (known_)
        setState(state_, trigger_);
}

QString GlobalShortcutService::statusText(HotkeyState state, const QString &trigger, const QString &holder,
                                          Fallback fallback, const ShortcutKeys &keys)
{
    const QString chosen = keys.displayText();
    switch (state) {
    case HotkeyState::Active: {
        // KDE says Meta for Super.
        QString said = trigger;
        said.replace(QStringLiteral("Meta"), QStringLiteral("Super"), Qt::CaseInsensitive);
        if (trigger.isEmpty() || ShortcutKeys::fromText(said) == keys)
            return QStringLiteral("%1 captures the clipboard.").arg(chosen);
        return QStringLiteral(
                   "%1 captures the clipboard (the desktop's choice; change it in its keyboard settings).")
            .arg(trigger);
    }
    case HotkeyState::Pending:
        return QStringLiteral("Waiting for the desktop to approve %1.").arg(chosen);
    case HotkeyState::Declined:
        if (!holder.isEmpty())
            return QStringLiteral("%1 is taken by %2; choose other keys.").arg(chosen, holder);
        return QStringLiteral("The desktop did not bind %1; capture from the panel, or choose other keys.")
            .arg(chosen);
    case HotkeyState::Unavailable:
        break;
    }
    switch (fallback) {
    case Fallback::gnomeSetupAdded:
        return QStringLiteral("%1 captures the clipboard through GNOME's keyboard shortcuts.").arg(chosen);
    case Fallback::gnomeSetup:
        if (!holder.isEmpty())
            return QStringLiteral("%1 is already %2; choose other keys, or change that in Settings \u203A "
                                  "Keyboard first.")
                .arg(chosen, holder);
        return QStringLiteral("%1 is not set up yet: \u201CSet Up\u201D under Keyboard shortcut in "
                              "the settings adds it to GNOME's keyboard shortcuts.")
            .arg(chosen);
    case Fallback::swayBinding:
        return QStringLiteral("%1 is not available on this desktop; capture from the panel, or add "
                              "\u201Cbindsym %2 exec pendrel-publisher --capture\u201D to sway's config.")
            .arg(chosen, keys.swayKeys());
    case Fallback::bindCommand:
        break;
    }
    return QStringLiteral("%1 is not available on this desktop; capture from the panel, or bind the "
                          "keys to \u201Cpendrel-publisher --capture\u201D in the desktop's keyboard settings.")
        .arg(chosen);
}

QString GlobalShortcutService::currentText() const
{
    QString holder = backend_ ? backend_->holder() : QString();
    Fallback fallback = Fallback::bindCommand;
    if (state_ == HotkeyState::Unavailable && qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(u"sway", Qt::CaseInsensitive))
        fallback = Fallback::swayBinding;
    if (state_ == HotkeyState::Unavailable && setup_ && setup_->applies()) {
        // Ours added but the keys held by another binding (chosen since):
        // it never fires, so it is not said to capture.
        const QList<ShortcutSetup::Binding> blocking = setup_->blockingBindings();
        if (setup_->isAdded() && blocking.isEmpty()) {
            fallback = Fallback::gnomeSetupAdded;
        } else {
            fallback = Fallback::gnomeSetup;
            if (!blocking.isEmpty())
                holder = QStringLiteral("\u201C%1\u201D (%2)").arg(blocking.first().title, blocking.first().where);
        }
    }
    return statusText(state_, trigger_, holder, fallback, keys_);
}

void GlobalShortcutService::setState(HotkeyState state, const QString &trigger)
{
    known_ = true;
    reported_ = true;
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
