#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <optional>

namespace pendrel {

// The resource bundle: the folder "pendrel-macos_PendrelPublisher.bundle"
// with the image folders "Brand" and "AuthProviders".
namespace AppResources {

inline constexpr QStringView bundleName = u"pendrel-macos_PendrelPublisher.bundle";

// The bundle's folder, found once on first use. A missing bundle is a broken
// installation: the process ends with "could not load resource bundle
// from: " and the candidate paths.
const QDir &bundle();

// Where to look, in order: the installed share folder, the share folder
// of the prefix the executable is in, the application's own folder, and the folder of the executable named by argv[0] with
// symbolic links resolved. Each ends in bundleName.
QStringList candidateLocations();
// The first candidate that is an existing folder.
std::optional<QString> findBundle(const QStringList &candidates);
QString missingBundleMessage(const QStringList &candidates);

// The path of an image in one of the bundle's folders, or nothing when the
// file is not there ("Brand", "pendrel-symbol", "png").
std::optional<QString> imagePath(QStringView folder, QStringView name, QStringView extension);

} // namespace AppResources

} // namespace pendrel
