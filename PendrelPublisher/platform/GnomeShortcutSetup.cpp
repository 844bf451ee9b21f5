#include "platform/GnomeShortcutSetup.h"

#include "support/Error.h"
#include "support/Tasks.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <memory>
#include <vector>

// GLib names a struct member `signals`, which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace pendrel {

namespace {

constexpr const char *kMediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char *kCustom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char *kList = "custom-keybindings";
constexpr QLatin1StringView kCustomFolder("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");

// Where GNOME keeps its own bindings, and how its settings call the place.
struct BuiltIn {
    const char *schema;
    const char *where;
};
constexpr BuiltIn kBuiltIns[] = {
    {"org.gnome.settings-daemon.plugins.media-keys", "GNOME's keyboard shortcuts"},
    {"org.gnome.shell.keybindings", "GNOME Shell"},
    {"org.gnome.desktop.wm.keybindings", "GNOME's window shortcuts"},
    {"org.gnome.mutter.keybindings", "GNOME's window shortcuts"},
    {"org.gnome.mutter.wayland.keybindings", "GNOME's window shortcuts"},
};

struct Unref {
    void operator()(GSettings *p) const { g_object_unref(p); }
    void operator()(GSettingsSchema *p) const { g_settings_schema_unref(p); }
    void operator()(GSettingsSchemaKey *p) const { g_settings_schema_key_unref(p); }
    void operator()(GVariant *p) const { g_variant_unref(p); }
    void operator()(gchar **p) const { g_strfreev(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

Owned<GSettingsSchema> lookup(const char *id)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    return Owned<GSettingsSchema>(source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr);
}

// GSettings aborts on a malformed path; a list edited by hand may hold one.
bool usablePath(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) && path.endsWith(QLatin1Char('/')) && !path.contains(QLatin1String("//"));
}

Owned<GSettings> settingsAt(const QString &path)
{
    return Owned<GSettings>(g_settings_new_with_path(kCustom, path.toUtf8().constData()));
}

QString text(GSettings *settings, const char *key)
{
    gchar *value = g_settings_get_string(settings, key);
    QString result = QString::fromUtf8(value);
    g_free(value);
    return result;
}

QStringList strings(GSettings *settings, const char *key)
{
    const Owned<gchar *> values(g_settings_get_strv(settings, key));
    QStringList result;
    for (gchar **v = values.get(); *v; ++v)
        result.append(QString::fromUtf8(*v));
    return result;
}

QStringList customPaths()
{
    const Owned<GSettings> mediaKeys(g_settings_new(kMediaKeys));
    return strings(mediaKeys.get(), kList);
}

void write(bool written, const char *key)
{
    if (!written)
        throw MessageError(QStringLiteral("GNOME's keyboard settings cannot be changed here (%1 is locked).")
                               .arg(QLatin1StringView(key)));
}

void setCustomPaths(const QStringList &paths)
{
    QList<QByteArray> bytes;
    std::vector<const gchar *> values;
    for (const QString &p : paths)
        bytes.append(p.toUtf8());
    for (const QByteArray &b : bytes)
        values.push_back(b.constData());
    values.push_back(nullptr);
    const Owned<GSettings> mediaKeys(g_settings_new(kMediaKeys));
    write(g_settings_set_strv(mediaKeys.get(), kList, values.data()), kList);
}

// The keys among a keybinding key's accelerators; GNOME's keybinding
// keys are string lists, the other keys of these schemas are not.
bool holdsKeys(GVariant *value, const ShortcutKeys &keys)
{
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY))
        return false;
    gsize count = 0;
    const gchar **values = g_variant_get_strv(value, &count);
    bool found = false;
    for (gsize i = 0; i < count && !found; ++i)
        found = GnomeShortcutSetup::sameKeys(QString::fromUtf8(values[i]), keys);
    g_free(values);
    return found;
}

} // namespace

GnomeShortcutSetup::GnomeShortcutSetup(QString command, std::function<QCoro::Task<bool>()> portalPresent,
                                       std::function<void()> answered)
    : command_(std::move(command)), portalPresent_(std::move(portalPresent)),
      portal_(std::make_shared<Portal>())
{
    portal_->answered = std::move(answered);
}

QCoro::Task<void> GnomeShortcutSetup::ask(std::function<QCoro::Task<bool>()> question, std::weak_ptr<Portal> into)
{
    const bool present = co_await question();
    const std::shared_ptr<Portal> portal = into.lock();
    if (!portal)
        co_return;
    portal->present = present;
    if (!portal->inApplies && portal->answered)
        portal->answered();
}

QString GnomeShortcutSetup::captureCommand()
{
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString found = QStandardPaths::findExecutable(QStringLiteral("pendrel-publisher"));
    if (!found.isEmpty() && QFileInfo(found).canonicalFilePath() == self)
        return QStringLiteral("pendrel-publisher --capture");
    // GNOME splits the command as a shell would.
    QString quoted = self;
    if (self.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9_./+-]"))))
        quoted = QLatin1Char('\'') + QString(self).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
                 + QLatin1Char('\'');
    return quoted + QStringLiteral(" --capture");
}

bool GnomeShortcutSetup::sameKeys(QStringView accelerator, const ShortcutKeys &keys)
{
    const std::optional<ShortcutKeys> parsed = ShortcutKeys::fromGnomeAccelerator(accelerator);
    return parsed && *parsed == keys;
}

void GnomeShortcutSetup::setKeys(const ShortcutKeys &keys)
{
    if (keys == keys_)
        return;
    keys_ = keys;
    // One already added follows at once: the settings daemon grabs the new keys.
    const QStringList ours = ourPaths();
    for (const QString &path : ours) {
        const Owned<GSettings> custom = settingsAt(path);
        write(g_settings_set_string(custom.get(), "binding", keys_.gnomeAccelerator().toUtf8().constData()),
              "binding");
    }
    if (!ours.isEmpty()) {
        g_settings_sync();
        if (changed)
            changed();
    }
}

bool GnomeShortcutSetup::applies() const
{
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!desktops.contains(QLatin1String("GNOME"), Qt::CaseInsensitive))
        return false;
    if (!lookup(kMediaKeys) || !lookup(kCustom))
        return false;
    if (!portal_->asked) {
        portal_->asked = true;
        if (portalPresent_) {
            portal_->inApplies = true;
            startDetached(ask(portalPresent_, portal_), QStringLiteral("Asking for the shortcut portal"));
            portal_->inApplies = false;
        } else {
            portal_->present = false;
        }
    }
    // Once added it stays removable, portal or not; otherwise offered only
    // once the desktop has said there is no portal to bind it.
    return (portal_->present && !*portal_->present) || isAdded();
}

QStringList GnomeShortcutSetup::ourPaths() const
{
    QStringList ours;
    if (!lookup(kMediaKeys) || !lookup(kCustom))
        return ours;
    for (const QString &path : customPaths()) {
        if (usablePath(path) && text(settingsAt(path).get(), "name") == name)
            ours.append(path);
    }
    return ours;
}

bool GnomeShortcutSetup::isAdded() const
{
    return !ourPaths().isEmpty();
}

QList<ShortcutSetup::Binding> GnomeShortcutSetup::customBindings() const
{
    QList<Binding> found;
    if (!lookup(kMediaKeys) || !lookup(kCustom))
        return found;
    for (const QString &path : customPaths()) {
        if (!usablePath(path))
            continue;
        const Owned<GSettings> custom = settingsAt(path);
        const QString title = text(custom.get(), "name");
        if (title != name && sameKeys(text(custom.get(), "binding"), keys_))
            found.append({title.isEmpty() ? text(custom.get(), "command") : title,
                          QStringLiteral("your custom shortcuts")});
    }
    return found;
}

QList<ShortcutSetup::Binding> GnomeShortcutSetup::blockingBindings() const
{
    // GNOME's settings daemon grabs each accelerator once: of two custom
    // shortcuts with the same keys only the first runs, and the Shell's and
    // the window manager's own bindings are served before any custom one.
    return otherBindings();
}

bool GnomeShortcutSetup::isSettled() const
{
    // Not GNOME, or no GNOME settings: applies() asks nobody.
    (void)applies();
    return !portal_->asked || portal_->present.has_value();
}

QList<ShortcutSetup::Binding> GnomeShortcutSetup::otherBindings() const
{
    QList<Binding> found = customBindings();
    for (const BuiltIn &place : kBuiltIns) {
        const Owned<GSettingsSchema> schema = lookup(place.schema);
        if (!schema)
            continue;
        const Owned<GSettings> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
        const Owned<gchar *> keys(g_settings_schema_list_keys(schema.get()));
        for (gchar **key = keys.get(); *key; ++key) {
            const Owned<GVariant> value(g_settings_get_value(settings.get(), *key));
            if (!holdsKeys(value.get(), keys_))
                continue;
            const Owned<GSettingsSchemaKey> info(g_settings_schema_get_key(schema.get(), *key));
            const gchar *summary = g_settings_schema_key_get_summary(info.get());
            found.append({summary ? QString::fromUtf8(summary) : QString::fromUtf8(*key),
                          QString::fromUtf8(place.where)});
        }
    }
    return found;
}

void GnomeShortcutSetup::add()
{
    if (!lookup(kMediaKeys) || !lookup(kCustom))
        throw MessageError(QStringLiteral("GNOME's keyboard settings are not installed."));
    if (isAdded())
        return;
    // A binding that could never fire is not worth adding.
    if (const QList<Binding> blocking = blockingBindings(); !blocking.isEmpty())
        throw MessageError(QStringLiteral("%1 is already \u201C%2\u201D (%3); choose other keys, or change that "
                                          "in Settings \u203A Keyboard first.")
                               .arg(keys_.displayText(), blocking.first().title, blocking.first().where));
    const QStringList paths = customPaths();
    QString path;
    for (int n = 0; path.isEmpty() || paths.contains(path); ++n)
        path = kCustomFolder + QStringLiteral("custom%1/").arg(n);
    // The entry first, then the list: the settings daemon reads the entries
    // that the list names as soon as it changes.
    const Owned<GSettings> custom = settingsAt(path);
    write(g_settings_set_string(custom.get(), "name", name.toUtf8().constData()), "name");
    write(g_settings_set_string(custom.get(), "command", command_.toUtf8().constData()), "command");
    write(g_settings_set_string(custom.get(), "binding", keys_.gnomeAccelerator().toUtf8().constData()), "binding");
    setCustomPaths(paths + QStringList{path});
    g_settings_sync();
    if (changed)
        changed();
}

void GnomeShortcutSetup::remove()
{
    const QStringList ours = ourPaths();
    if (ours.isEmpty())
        return;
    QStringList paths = customPaths();
    for (const QString &path : ours)
        paths.removeAll(path);
    setCustomPaths(paths);
    for (const QString &path : ours) {
        const Owned<GSettings> custom = settingsAt(path);
        for (const char *key : {"name", "command", "binding"})
            g_settings_reset(custom.get(), key);
    }
    g_settings_sync();
    if (changed)
        changed();
}

} // namespace pendrel
