#include "state/AppState.h"

#include "platform/ShortcutSetup.h"

namespace pendrel {

ShortcutSetupView AppState::shortcutSetupView() const
{
    ShortcutSetupView view;
    ShortcutSetup *setup = services_.shortcutSetup;
    if (!setup || !setup->applies())
        return view;
    view.offered = true;
    view.added = setup->isAdded();
    view.others = setup->otherBindings();
    view.blocking = setup->blockingBindings();
    return view;
}

void AppState::toggleShortcutSetup()
{
    ShortcutSetup *setup = services_.shortcutSetup;
    if (!setup)
        return;
    if (setup->isAdded())
        setup->remove();
    else
        setup->add();
}

} // namespace pendrel
