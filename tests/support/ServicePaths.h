#pragma once

#include <QString>

// The content service's paths as the fake service sees them.
namespace pendrel::test::paths {

inline const QString extract = QStringLiteral("/api/documents/extract-text");
inline const QString analyze = QStringLiteral("/api/blog/admin/analyze");
inline const QString transform = QStringLiteral("/api/blog/admin/transform");
inline const QString illustrations = QStringLiteral("/api/blog/illustrations/generate");
inline const QString humanize = QStringLiteral("/api/blog/humanize");
inline const QString save = QStringLiteral("/api/blog/save");
inline const QString voiceover = QStringLiteral("/api/blog/voice-over/generate");
inline const QString adaptations = QStringLiteral("/api/blog/social-adaptations");
inline const QString publish = QStringLiteral("/api/blog/social-adaptations/publish");
inline const QString shop = QStringLiteral("/api/integrations/shopify/publish");
inline const QString presets = QStringLiteral("/api/internal-links/presets");
inline const QString tenantSettings = QStringLiteral("/api/tenant-settings");
inline const QString favorites = QStringLiteral("/api/ai-insights/favorites");
inline const QString socialAccounts = QStringLiteral("/api/social-accounts");

} // namespace pendrel::test::paths
