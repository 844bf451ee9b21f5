#include "shell/GlobalShortcutService.h"

#include <QDebug>

namespace pendrel {

GlobalShortcutService::GlobalShortcutService(std::unique_ptr<HotkeyBackend> backend,
                                             std::function<void()> handler)
    : backend_(std::move(backend)), handler_(std::move(handler))
{
}

GlobalShortcutService::~GlobalShortcutService()
{
    if (registered_ && backend_)
        backend_->unregisterHotkey();
}

void GlobalShortcutService::install()
{
    if (!backend_ || registered_)
        return;
    registered_ = backend_->registerHotkey(handler_);
    if (!registered_)
        qInfo("Super+Shift+S is not available on this desktop; capture from the panel instead.");
}

} // namespace pendrel
