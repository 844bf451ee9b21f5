#include "platform/ColorSchemePreference.h"

#include "platform/PanelAppearanceWatcher.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QRegularExpression>
#include <QStandardPaths>

#undef signals // GLib names a struct member so
#include <gio/gio.h>

namespace pendrel {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
constexpr char gnomeSchema[] = "org.gnome.desktop.interface";
const QString xfceChannel = QStringLiteral("xsettings");
const QString xfceThemeProperty = QStringLiteral("/Net/ThemeName");

QVariant unwrap(QVariant value)
{
    // A variant arrives as QDBusVariant, or as a QDBusArgument holding one.
    for (int depth = 0; depth < 3; ++depth) {
        if (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
            value = value.value<QDBusVariant>().variant();
        } else if (value.userType() == qMetaTypeId<QDBusArgument>()) {
            const QDBusArgument arg = value.value<QDBusArgument>();
            if (arg.currentType() != QDBusArgument::VariantType)
                break;
            QDBusVariant inner;
            arg >> inner;
            value = inner.variant();
        } else {
            break;
        }
    }
    return value;
}

void onGnomeChanged(GSettings *, const gchar *, gpointer self)
{
    QMetaObject::invokeMethod(static_cast<QObject *>(self), "changedByGnome", Qt::QueuedConnection);
}

} // namespace

ColorSchemePreference::ColorSchemePreference(QDBusConnection bus, QObject *parent) : QObject(parent), bus_(bus)
{
    // Any sender: the portal may start after us, or again.
    bus_.connect(QString(), portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(onPortalSettingChanged(QDBusMessage)));
    // Qt's GTK platform theme takes the theme's palette at start only, so on
    // Xfce the theme's name is followed here.
    onXfce_ = qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(u"XFCE", Qt::CaseInsensitive);
    if (onXfce_)
        xfconf::watch(bus_, this, SLOT(onXfconfChanged(QDBusMessage)));
    useFallbacks();
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

ColorSchemePreference::~ColorSchemePreference()
{
    if (gnomeSettings_) {
        g_signal_handler_disconnect(gnomeSettings_, gnomeHandler_);
        g_object_unref(gnomeSettings_);
    }
}

void ColorSchemePreference::start()
{
    askPortal(true);
    if (onXfce_)
        askXfce();
}

ColorSchemePreference::Scheme ColorSchemePreference::fromPortalValue(const QVariant &value)
{
    const QVariant inner = unwrap(value);
    bool ok = false;
    const uint scheme = inner.toUInt(&ok);
    if (!ok)
        return Scheme::noPreference;
    return scheme == 1 ? Scheme::dark : scheme == 2 ? Scheme::light : Scheme::noPreference;
}

ColorSchemePreference::Scheme ColorSchemePreference::fromGnomeValue(const QString &value)
{
    QString v = value.trimmed();
    if (v.size() >= 2 && v.startsWith(u'\'') && v.endsWith(u'\'')) // as gsettings prints it
        v = v.mid(1, v.size() - 2);
    if (v == u"prefer-dark")
        return Scheme::dark;
    if (v == u"prefer-light")
        return Scheme::light;
    return Scheme::noPreference;
}

ColorSchemePreference::Scheme ColorSchemePreference::fromXfceThemeName(const QString &name)
{
    // No theme set: Xfce draws with GTK's default, but says nothing itself.
    if (name.trimmed().isEmpty())
        return Scheme::noPreference;
    // "Adwaita-dark", "Arc-Dark", "Greybird-dark", "Yaru-dark", "Darkish".
    return name.contains(u"dark", Qt::CaseInsensitive) ? Scheme::dark : Scheme::light;
}

ColorSchemePreference::Scheme ColorSchemePreference::fromKdeGlobals(const QString &text)
{
    QString group;
    std::optional<Scheme> byBackground;
    std::optional<Scheme> byName;
    static const QRegularExpression rgb(QStringLiteral("^\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)"));
    for (const QString &raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[')) {
            group = line.mid(1, line.indexOf(u']') - 1);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (group == u"Colors:Window" && key == u"BackgroundNormal") {
            const QRegularExpressionMatch m = rgb.match(value);
            if (m.hasMatch()) {
                const QColor window(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
                byBackground = window.lightness() < 128 ? Scheme::dark : Scheme::light;
            }
        } else if (group == u"General" && key == u"ColorScheme" && !value.isEmpty()) {
            byName = value.contains(u"dark", Qt::CaseInsensitive) ? Scheme::dark : Scheme::light;
        }
    }
    // The colours themselves decide over a scheme's name.
    return byBackground.value_or(byName.value_or(Scheme::noPreference));
}

QString ColorSchemePreference::sourceName(Source source)
{
    switch (source) {
    case Source::portal:
        return QStringLiteral("portal");
    case Source::gnome:
        return QStringLiteral("gnome");
    case Source::xfce:
        return QStringLiteral("xfce");
    case Source::kde:
        return QStringLiteral("kde");
    case Source::palette:
        return QStringLiteral("palette");
    case Source::none:
        break;
    }
    return QStringLiteral("none");
}

void ColorSchemePreference::askPortal(bool readOne)
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       readOne ? QStringLiteral("ReadOne") : QStringLiteral("Read"));
    call << appearanceNamespace << colorSchemeKey;
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, readOne](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            usePortal(fromPortalValue(reply.arguments().first()));
            return;
        }
        // Portals before version 2 have only Read.
        if (readOne && reply.errorName() == u"org.freedesktop.DBus.Error.UnknownMethod") {
            askPortal(false);
            return;
        }
        // No portal, or one without the setting: the fallbacks' answer stands.
    });
}

void ColorSchemePreference::usePortal(Scheme scheme)
{
    portal_ = scheme;
    if (scheme == Scheme::noPreference)
        useFallbacks(); // the portal speaks, but says nothing: the theme may still be dark
    else
        set(scheme == Scheme::dark, Source::portal);
}

void ColorSchemePreference::onPortalSettingChanged(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    if (args.size() >= 3 && args[0].toString() == appearanceNamespace && args[1].toString() == colorSchemeKey)
        usePortal(fromPortalValue(args[2]));
}

void ColorSchemePreference::askXfce()
{
    auto *watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(xfconf::getProperty(xfceChannel, xfceThemeProperty), 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        // No xfconfd, or no theme set: the rest of the chain decides.
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        // A change that came first is newer than this answer.
        if (xfce_)
            return;
        xfce_ = fromXfceThemeName(xfconf::value(reply.arguments().first()).toString());
        useFallbacks();
    });
}

void ColorSchemePreference::onXfconfChanged(const QDBusMessage &message)
{
    const std::optional<xfconf::Change> change = xfconf::change(message);
    if (!change || change->channel != xfceChannel || change->property != xfceThemeProperty)
        return;
    xfce_ = fromXfceThemeName(change->value.toString());
    useFallbacks();
}

std::optional<ColorSchemePreference::Scheme> ColorSchemePreference::gnomeScheme() const
{
    if (!gnomeSettings_)
        return std::nullopt;
    gchar *value = g_settings_get_string(static_cast<GSettings *>(gnomeSettings_), "color-scheme");
    const Scheme scheme = fromGnomeValue(QString::fromUtf8(value));
    g_free(value);
    return scheme;
}

void ColorSchemePreference::watchGnome()
{
    if (gnomeSettings_)
        return;
    // Only where the schema has the key (GNOME 42 on); GSettings aborts on
    // an unknown schema or key.
    GSettingsSchemaSource *schemas = g_settings_schema_source_get_default();
    GSettingsSchema *schema = schemas ? g_settings_schema_source_lookup(schemas, gnomeSchema, TRUE) : nullptr;
    if (!schema)
        return;
    const bool hasKey = g_settings_schema_has_key(schema, "color-scheme");
    g_settings_schema_unref(schema);
    if (!hasKey)
        return;
    GSettings *settings = g_settings_new(gnomeSchema);
    gnomeSettings_ = settings;
    gnomeHandler_ = g_signal_connect(settings, "changed::color-scheme", G_CALLBACK(onGnomeChanged), this);
}

void ColorSchemePreference::useFallbacks()
{
    if (portal_ && *portal_ != Scheme::noPreference)
        return; // the portal's preference holds
    // A portal that answered already speaks for GNOME's setting (its GNOME
    // and GTK back ends serve that very key); only without one is it read
    // and watched here.
    if (!portal_) {
        watchGnome();
        if (const std::optional<Scheme> gnome = gnomeScheme(); gnome && *gnome != Scheme::noPreference) {
            set(*gnome == Scheme::dark, Source::gnome);
            return;
        }
    }
    if (xfce_ && *xfce_ != Scheme::noPreference) {
        set(*xfce_ == Scheme::dark, Source::xfce);
        return;
    }
    const QString kdeglobals = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
    if (!kdeglobals.isEmpty()) {
        QFile file(kdeglobals);
        if (file.open(QIODevice::ReadOnly)) {
            const Scheme kde = fromKdeGlobals(QString::fromUtf8(file.readAll()));
            if (kde != Scheme::noPreference) {
                set(kde == Scheme::dark, Source::kde);
                return;
            }
        }
    }
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        set(QGuiApplication::palette().color(QPalette::Window).lightness() < 128, Source::palette);
        return;
    }
    set(false, Source::none);
}

void ColorSchemePreference::changedByGnome()
{
    if (!portal_)
        useFallbacks();
}

void ColorSchemePreference::set(bool dark, Source source)
{
    // A new source is news too (the log says where the look came from).
    if (dark == dark_ && source == source_)
        return;
    dark_ = dark;
    source_ = source;
    emit changed();
}

bool ColorSchemePreference::eventFilter(QObject *watched, QEvent *event)
{
    // Only the last of the chain follows the palette.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange
        && (source_ == Source::palette || source_ == Source::none))
        useFallbacks();
    return QObject::eventFilter(watched, event);
}

} // namespace pendrel
