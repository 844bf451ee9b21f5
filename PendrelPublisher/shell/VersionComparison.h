#pragma once

#include <QString>

namespace pendrel {

// Orders release versions the way appcast feeds number them: runs of
// digits compare as numbers, runs of letters as text, "." and other
// punctuation separate; missing trailing numbers count as zero (1.0 equals
// 1.0.0); a letter run where the other version has ended marks a
// pre-release (1.0b1 comes before 1.0); everything from the first "-" on
// is ignored (2.0-beta equals 2.0).
namespace VersionComparison {

// Negative when `a` is older than `b`, zero when equal, positive when newer.
int compare(const QString &a, const QString &b);

} // namespace VersionComparison

} // namespace pendrel
