#include "state/AppConfiguration.h"

#include "BundleInfo.h"
#include "support/Text.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>

namespace pendrel {

std::optional<QString> BundleInfo::value(QStringView key) const
{
    const QString *found = nullptr;
    if (key == u"CFBundleIdentifier")
        found = &identifier;
    else if (key == u"CFBundleShortVersionString")
        found = &shortVersion;
    else if (key == u"SUFeedURL")
        found = &feedURL;
    if (!found || found->isEmpty())
        return std::nullopt;
    return *found;
}

namespace AppConfiguration {

namespace {

QMutex infoMutex;
std::atomic<bool> identifierFrozen{false};

BundleInfo &infoStorage()
{
    static BundleInfo info{QStringLiteral(PENDREL_BUNDLE_IDENTIFIER_VALUE),
                           QStringLiteral(PENDREL_BUNDLE_VERSION_VALUE),
                           QStringLiteral(PENDREL_FEED_URL_VALUE)};
    return info;
}

std::optional<QString> environment(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

} // namespace

BundleInfo bundleInfo()
{
    const QMutexLocker lock(&infoMutex);
    return infoStorage();
}

void setBundleInfo(const BundleInfo &info)
{
    const QMutexLocker lock(&infoMutex);
    if (identifierFrozen.load())
        qWarning("AppConfiguration::setBundleInfo after first use: the bundle identifier stays as it was");
    infoStorage() = info;
}

QString resolveBundleIdentifier(const QString &bundleValue)
{
    return bundleValue.isEmpty() ? fallbackBundleIdentifier.toString() : bundleValue;
}

QString bundleIdentifier()
{
    static const QString identifier = [] {
        identifierFrozen.store(true);
        return resolveBundleIdentifier(bundleInfo().identifier);
    }();
    return identifier;
}

bool isProductionBuild()
{
    return bundleIdentifier() == productionBundleIdentifier;
}

QString bundleFolderName(const QString &bundleIdentifier)
{
    return QString(bundleIdentifier).replace(u'.', u'-');
}

QUrl apiBaseURL()
{
    if (const auto value = environment("PENDREL_API_BASE_URL"); value && !value->isEmpty()) {
        // Used as given, without trimming; a value that is not an absolute
        // address (no scheme or host) cannot serve as an origin.
        const QUrl url(*value, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty())
            return url;
    }
    return QUrl(productionWebOrigin.toString());
}

QString defaultAppcastURL()
{
    return downloadOrigin.toString() + QStringLiteral("/macos/appcast.xml");
}

QString appcastURL()
{
    if (const auto value = environment("PENDREL_APPCAST_URL")) {
        const QString trimmed = text::trimmed(*value);
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return defaultAppcastURL();
}

std::optional<QString> debugPreviewStateName()
{
    const auto value = environment("PENDREL_DEBUG_PREVIEW_STATE");
    if (!value)
        return std::nullopt;
    const QString trimmed = text::trimmed(*value);
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

bool showPanelOnLaunch()
{
    return environment("PENDREL_DEBUG_SHOW_PANEL_ON_LAUNCH") == QStringLiteral("1");
}

bool reportStartup()
{
    return environment("PENDREL_DEBUG_REPORT_STARTUP") == QStringLiteral("1");
}

QString shortVersion()
{
    return bundleInfo().value(u"CFBundleShortVersionString").value_or(defaultVersion.toString());
}

QString feedURL()
{
    return bundleInfo().value(u"SUFeedURL").value_or(appcastURL());
}

} // namespace AppConfiguration

} // namespace pendrel
