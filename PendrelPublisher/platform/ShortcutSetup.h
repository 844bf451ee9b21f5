#pragma once

#include "model/ShortcutKeys.h"

#include <QList>
#include <QString>

namespace pendrel {

// A keyboard shortcut of the desktop's own that runs `pendrel-publisher
// --capture`, set up when the user asks for it, where the desktop offers
// applications no global shortcut of their own.
class ShortcutSetup {
public:
    // Another binding of the same keys: what it does, and where it is set.
    using Binding = ShortcutBinding;

    virtual ~ShortcutSetup() = default;
    // The keys it binds; a binding already added is moved to them.
    virtual void setKeys(const ShortcutKeys &keys) = 0;
    // Whether this desktop wants it (and can take it).
    [[nodiscard]] virtual bool applies() const = 0;
    [[nodiscard]] virtual bool isAdded() const = 0;
    // The other bindings of the same keys, ours left out.
    [[nodiscard]] virtual QList<Binding> otherBindings() const = 0;
    // Of those, the ones that make a binding of ours never fire (the
    // desktop runs only one of two equal custom shortcuts): while there is
    // one, add() refuses.
    [[nodiscard]] virtual QList<Binding> blockingBindings() const { return {}; }
    // Whether applies() has its answer (it may wait for the desktop).
    [[nodiscard]] virtual bool isSettled() const { return true; }
    // Both throw an Error saying why the desktop's settings refused.
    virtual void add() = 0;
    virtual void remove() = 0;
};

} // namespace pendrel
