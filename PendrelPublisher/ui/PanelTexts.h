#pragma once

#include "model/Clip.h"
#include "model/CostEstimator.h"
#include "model/Job.h"
#include "model/ShortcutKeys.h"

#include <QColor>
#include <QString>
#include <QUrl>

#include <optional>

namespace pendrel {

class AppState;

// The words and colours the panel's sections show, as functions of the
// state they read, so that every rule is testable without widgets.
namespace PanelTexts {

enum class Tone { info, success, danger, muted };
QColor toneText(Tone tone);
QColor toneBackground(Tone tone);

struct Pill {
    QString title;
    Tone tone = Tone::muted;
    bool operator==(const Pill &) const = default;
};

// "Queued", "Working", "Ready", "Issue", "Stopped".
Pill statusPill(JobStatus status);
QString primaryMessage(const JobRecord &job);
// What screen readers are told as a job moves on: the pill and the primary
// message ("Working: Generating images", "Ready: Article ready").
QString jobAnnouncement(const JobRecord &job);
std::optional<QString> secondaryMessage(const JobRecord &job);
// The status card's words for a job as the state stands: a waiting job
// that nothing can work on now (saving stopped, signed out, the service
// away) says so and why, instead of naming a stage or "Working".
struct JobCard {
    Pill pill;
    QString primary;
    std::optional<QString> secondary;
    bool operator==(const JobCard &) const = default;
};
JobCard jobCard(const AppState &state, const JobRecord &job);
// Service texts the user cannot act on, said plainly.
QString normalizedError(const QString &message);
// "Crossposting: Posted 2 · Skipped 1"; nothing without results.
std::optional<QString> crosspostSummary(const JobRecord &job);

QString previewHeadline(const std::optional<ClipPayload> &clip);
QString previewBody(const std::optional<ClipPayload> &clip);

QString headerSubtitle(const AppState &state);
struct Badge {
    QString label;
    bool active = false;
    bool operator==(const Badge &) const = default;
};
Badge headerBadge(const AppState &state);

QString tenantName(const AppState &state);
QString balance(const AppState &state);
// "Processing: 1 · Queued: 2", when anything is running or queued.
std::optional<QString> queueLine(const AppState &state);
QString sendButtonTitle(const AppState &state);
// "12 credits".
QString credits(qint64 amount);
// "Article +6 · Images +4".
QString costBreakdownLine(const CostBreakdown &breakdown);

// The result card's title: the job's, the result's, or "Article ready".
QString resultTitle(const JobRecord &job);
// The saved article's address: the result's, else the job's saved one.
std::optional<QString> articleAddress(const JobRecord &job);
// A row title in the recent jobs list, never empty.
QString jobRowTitle(const JobRecord &job);
// A page of the web dashboard under the configured service origin
// ("dashboard/billing").
QUrl dashboardURL(QStringView relativePath);

// "🇩🇪 German"; a code not in the table shows a globe and the code in
// capitals ("🌐 XX").
QString languageSummary(const QString &code);

// A log line: the time in the user's locale, " · ", the message.
QString logLine(const JobLogEntry &entry);
// The subtitle of a row in the recent jobs list.
std::optional<QString> recentJobSubtitle(const JobRecord &job);

// The keyboard shortcut setup's line under "Keyboard shortcut": what the
// button does, or which other bindings hold the same keys.
QString shortcutSetupLine(bool added, const QList<ShortcutBinding> &others, const ShortcutKeys &keys = {});
// What the keys button says and what screen readers hear of it.
QString shortcutKeysButton(const ShortcutKeys &keys, bool recording);
QString shortcutKeysDescription();
// Said once keys are recorded, reset, or refused while recording.
QString shortcutKeysRecorded(const ShortcutKeys &keys);
QString shortcutKeysRefused();
// "Set Up" or "Remove".
QString shortcutSetupAction(bool added);

} // namespace PanelTexts

} // namespace pendrel
