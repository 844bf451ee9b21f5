#pragma once

#include "platform/ShortcutSetup.h"

#include <QStringList>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace pendrel {

// The chosen keys as a GNOME custom keyboard shortcut (Settings › Keyboard ›
// Custom Shortcuts), for GNOME releases without the GlobalShortcuts portal.
// Written through GSettings, so GNOME's settings daemon picks it up at once.
class GnomeShortcutSetup final : public ShortcutSetup {
public:
    static constexpr QStringView name = u"Pendrel Publisher: capture";

    // `command` is what the shortcut runs; `portalPresent` is asked once,
    // the first time it matters, and not waited for: until it answers, the
    // setup is offered only to remove one already added; `answered` runs
    // when the answer comes.
    GnomeShortcutSetup(QString command, std::function<QCoro::Task<bool>()> portalPresent,
                       std::function<void()> answered = {});

    // `pendrel-publisher --capture` when that name finds this program on
    // PATH, otherwise its full path.
    static QString captureCommand();
    // Whether an accelerator in GNOME's notation ("<Shift><Super>S") is these keys.
    static bool sameKeys(QStringView accelerator, const ShortcutKeys &keys);

    // Throws (as add() does) when GNOME's settings refuse moving ours.
    void setKeys(const ShortcutKeys &keys) override;
    [[nodiscard]] bool applies() const override;
    [[nodiscard]] bool isAdded() const override;
    [[nodiscard]] QList<Binding> otherBindings() const override;
    [[nodiscard]] QList<Binding> blockingBindings() const override;
    [[nodiscard]] bool isSettled() const override;
    // Runs after add() or remove() changed GNOME's settings.
    std::function<void()> changed;
    void add() override;
    void remove() override;

private:
    [[nodiscard]] QStringList ourPaths() const;
    [[nodiscard]] QList<Binding> customBindings() const;

    // Shared with the question in flight, which may outlive the setup.
    struct Portal {
        std::optional<bool> present;
        bool asked = false;
        bool inApplies = false; // an answer at once is read by applies() itself
        std::function<void()> answered;
    };
    static QCoro::Task<void> ask(std::function<QCoro::Task<bool>()> question, std::weak_ptr<Portal> into);

    QString command_;
    ShortcutKeys keys_;
    std::function<QCoro::Task<bool>()> portalPresent_;
    std::shared_ptr<Portal> portal_;
};

} // namespace pendrel
