#pragma once

#include "model/ClipperSettings.h"
#include "model/ShortcutKeys.h"
#include "support/EnumStrings.h"
#include "ui/PanelLook.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QLineEdit;
class QMenu;
class QVBoxLayout;

namespace pendrel {

class AppState;
class CompactActionButton;
class PanelAnnouncer;
class SocialCrosspostingSection;
class ToggleSwitch;

// One field of the settings, read from and written through the state. Each
// write replaces the whole settings value, which the state saves.
template <class T>
struct SettingBinding {
    std::function<T(const ClipperSettings &)> get;
    std::function<void(ClipperSettings &, const T &)> set;
};

// Writes one edit of the settings through the state.
void editSettings(AppState &state, const std::function<void(ClipperSettings &)> &edit);

// A titled group of controls.
class InspectorGroup : public QWidget {
    Q_OBJECT
public:
    InspectorGroup(const QString &title, const char *objectName, QWidget *parent = nullptr);
    [[nodiscard]] QVBoxLayout *content() const { return content_; }

private:
    QVBoxLayout *content_;
};

// A title and a picker over a list of entries, with an optional help text
// for the selected entry below.
class InlinePickerField : public QWidget {
    Q_OBJECT
public:
    struct Entry {
        QString title;
        std::optional<QString> help;
    };
    InlinePickerField(const QString &title, const char *objectName, const QList<Entry> &entries,
                      QWidget *parent = nullptr);
    // Shows entry `index` (-1: none) without reporting it.
    void setCurrentIndex(int index);
    [[nodiscard]] QComboBox *picker() const { return picker_; }

signals:
    void chosen(int index);

private:
    QList<Entry> entries_;
    QComboBox *picker_;
    QLabel *help_;
};

// A picker over every case of an enumeration; entries are the display names
// of the cases' strings. Help texts come from `help` when given.
template <class E>
InlinePickerField *enumPickerField(const QString &title, const char *objectName,
                                   const std::function<QString(E)> &help, QWidget *parent)
{
    QList<InlinePickerField::Entry> entries;
    for (const E value : enumCases<E>())
        entries.append({displayNameForValue(enumString(value)),
                        help ? std::optional<QString>(help(value)) : std::nullopt});
    return new InlinePickerField(title, objectName, entries, parent);
}

// A compact label for a content language: flag, space, English name.
class LanguageSummaryChip : public QLabel {
    Q_OBJECT
public:
    explicit LanguageSummaryChip(QWidget *parent = nullptr);
    void setCode(const QString &code);
};

// A button showing the current language that opens the grouped list.
class LanguageMenuField : public QToolButton {
    Q_OBJECT
public:
    explicit LanguageMenuField(QWidget *parent = nullptr);
    void setCode(const QString &code);
    [[nodiscard]] QMenu *languageMenu() const { return menu_; }

signals:
    void codeChosen(const QString &code);

private:
    QMenu *menu_;
};

// A title, a given picker and a help text.
class InlineMenuPickerField : public QWidget {
    Q_OBJECT
public:
    InlineMenuPickerField(const QString &title, const QString &helpText, QComboBox *content,
                          QWidget *parent = nullptr);
};

// A switch with its title, help text below and an optional view beside it.
class InspectorToggleRow : public QWidget {
    Q_OBJECT
public:
    InspectorToggleRow(const QString &title, const char *objectName, const std::optional<QString> &helpText,
                       QWidget *trailing = nullptr, QWidget *parent = nullptr);
    void setOn(bool on);
    [[nodiscard]] ToggleSwitch *toggle() const { return switch_; }

signals:
    void toggled(bool on);

private:
    ToggleSwitch *switch_;
};

// Target domain, the five insight switches and the cost note.
class CompetitionInspector : public QWidget {
    Q_OBJECT
public:
    explicit CompetitionInspector(AppState &state, QWidget *parent = nullptr);
    void render();

private:
    AppState &state_;
    QLineEdit *domain_;
    QList<std::pair<InspectorToggleRow *, SettingBinding<bool>>> options_;
};

// The capture shortcut's keys: shows them; pressed, it records the next
// chord (one of Ctrl, Alt and Super with a key). Escape cancels, Backspace
// gives back the default.
class ShortcutRecorder : public QPushButton {
    Q_OBJECT
public:
    explicit ShortcutRecorder(QWidget *parent = nullptr);
    void setKeys(const ShortcutKeys &keys);
    [[nodiscard]] bool isRecording() const { return recording_; }

signals:
    void recorded(const ShortcutKeys &keys);
    void refused();
    void cancelled();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void setRecording(bool on);

    ShortcutKeys keys_;
    bool recording_ = false;
};

// The whole settings inspector.
class SettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit SettingsSection(AppState &state, QWidget *parent = nullptr);
    void render();
    // What "Quit Pendrel Publisher" does; the application's quit by default.
    std::function<void()> onQuit;
    // Shows the Appearance choice (kept by the shell, not in the settings).
    void setAppearanceChoice(PanelAppearance choice);

signals:
    void appearanceChosen(pendrel::PanelAppearance choice);

private:
    void renderPublishing();
    void renderShortcutSetup();

    AppState &state_;
    InlinePickerField *appearance_;
    InlinePickerField *size_;
    InlinePickerField *seo_;
    LanguageMenuField *language_;
    QList<std::pair<InspectorToggleRow *, SettingBinding<bool>>> toggles_;
    QComboBox *imagesCount_;
    CompetitionInspector *competition_;
    QComboBox *linksPreset_;
    QComboBox *author_;
    QStringList presetIDs_; // entry index -> id, "" for "None"
    QStringList authorIDs_; // entry index -> id, "" for "Default"
    QWidget *shortcutRow_;
    QLabel *shortcutSummary_;
    CompactActionButton *shortcutButton_;
    ShortcutRecorder *shortcutKeys_;
    CompactActionButton *shortcutKeysReset_;
    PanelAnnouncer *shortcutAnnouncer_;
    std::optional<QString> shortcutError_;
    InspectorToggleRow *launchAtLogin_;
    QLabel *launchHelper_;
    QLabel *updateSummary_;
    QLabel *updateRestriction_ = nullptr;
    CompactActionButton *updateButton_;
    CompactActionButton *signOut_;
};

} // namespace pendrel
