#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace pendrel {

// Whether the desktop prefers dark applications, followed while the program
// runs. Asked in this order, the first that states a preference wins:
// - the settings portal's org.freedesktop.appearance color-scheme (every
//   desktop with xdg-desktop-portal; its SettingChanged signal switches live);
// - GNOME's org.gnome.desktop.interface color-scheme, read through GSettings
//   (dconf) and watched there, for GNOME sessions without a portal;
// - on Xfce, the GTK theme xfconf holds (xsettings /Net/ThemeName): Xfce
//   users choose dark by choosing a dark theme, and Xfce states no
//   color-scheme, so the portal there answers "no preference";
// - KDE's colour scheme in kdeglobals (the window background's lightness,
//   else a scheme named dark);
// - the application palette's window colour.
class ColorSchemePreference : public QObject {
    Q_OBJECT

public:
    enum class Scheme { noPreference, dark, light };
    enum class Source { none, portal, gnome, xfce, kde, palette };

    explicit ColorSchemePreference(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~ColorSchemePreference() override;

    // Asks the portal; the answer (or the fallbacks' when none comes) is
    // reported through changed(). Until then the fallbacks' answer holds.
    void start();
    [[nodiscard]] bool prefersDark() const { return dark_; }
    [[nodiscard]] Source source() const { return source_; }

    // The portal's color-scheme value: a uint, or (from Read, on portals
    // older than ReadOne) that uint inside one more variant.
    static Scheme fromPortalValue(const QVariant &value);
    // GSettings' color-scheme string: "prefer-dark", "prefer-light", "default".
    static Scheme fromGnomeValue(const QString &value);
    // An Xfce (GTK) theme's name: "Adwaita-dark", "Greybird-dark" are dark.
    static Scheme fromXfceThemeName(const QString &name);
    // A kdeglobals file's text.
    static Scheme fromKdeGlobals(const QString &text);
    static QString sourceName(Source source);

signals:
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onPortalSettingChanged(const QDBusMessage &message);
    void changedByGnome();
    void onXfconfChanged(const QDBusMessage &message);

private:
    void askPortal(bool readOne);
    void usePortal(Scheme scheme);
    // The chain after the portal, from GNOME's setting on.
    void useFallbacks();
    void set(bool dark, Source source);
    [[nodiscard]] std::optional<Scheme> gnomeScheme() const;
    void watchGnome();
    void askXfce();

    QDBusConnection bus_;
    bool dark_ = false;
    Source source_ = Source::none;
    std::optional<Scheme> portal_; // what the portal said, once it answered
    void *gnomeSettings_ = nullptr; // GSettings, watched for color-scheme
    unsigned long gnomeHandler_ = 0;
    bool onXfce_ = false;
    std::optional<Scheme> xfce_; // by the theme's name, once xfconfd told it
};

} // namespace pendrel
