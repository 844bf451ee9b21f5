#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace pendrel {

// The bundle information of the running build: what the packaged build
// compiles in, keyed as the update feed tooling expects.
struct BundleInfo {
    QString identifier;   // empty in source builds
    QString shortVersion; // "CFBundleShortVersionString"
    QString feedURL;      // "SUFeedURL"; empty when the build names none

    // The value of a bundle key, or nothing when the build has no such key
    // (an empty compiled-in value counts as none).
    [[nodiscard]] std::optional<QString> value(QStringView key) const;
};

// Fixed settings of the application: which build this is, which service
// origin to talk to, where the update feed lives. Environment variables are
// read on every use so that a developer can point a build elsewhere.
namespace AppConfiguration {

inline constexpr QStringView productionBundleIdentifier = u"com.pendrel.publisher";
inline constexpr QStringView fallbackBundleIdentifier = u"com.pendrel.publisher.dev";
// The service's web site; requests, article pages and dashboards live under it.
inline constexpr QStringView productionWebOrigin = u"https://pendrel.com";
// Where releases and the update feed are published.
inline constexpr QStringView downloadOrigin = u"https://download.pendrel.com";
inline constexpr QStringView defaultVersion = u"1.0.0";

// The compiled-in bundle information, unless replaced by setBundleInfo.
BundleInfo bundleInfo();
// For tests and tools: replaces the bundle information. Only effective
// before the first read of bundleIdentifier(), which is computed once.
void setBundleInfo(const BundleInfo &info);

// The identifier, or the development fallback when the bundle has none.
// Computed once, thread-safe.
QString bundleIdentifier();
QString resolveBundleIdentifier(const QString &bundleValue);
bool isProductionBuild();
// The folder a build keeps its files in: the identifier with dots as dashes,
// so that builds never share state.
QString bundleFolderName(const QString &bundleIdentifier);

QUrl apiBaseURL();    // PENDREL_API_BASE_URL when usable, else the production origin
QString appcastURL(); // PENDREL_APPCAST_URL trimmed when not blank, else the default feed
QString defaultAppcastURL();

// PENDREL_DEBUG_PREVIEW_STATE trimmed; nothing when unset or blank.
std::optional<QString> debugPreviewStateName();
// PENDREL_DEBUG_SHOW_PANEL_ON_LAUNCH is exactly "1".
bool showPanelOnLaunch();
// PENDREL_DEBUG_REPORT_STARTUP is exactly "1": start-up times on stderr.
bool reportStartup();

// "CFBundleShortVersionString", or "1.0.0" when the bundle has none.
QString shortVersion();
// "SUFeedURL", or appcastURL() when the bundle has none.
QString feedURL();

} // namespace AppConfiguration

} // namespace pendrel
