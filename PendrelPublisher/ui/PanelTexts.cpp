#include "ui/PanelTexts.h"

#include "model/SupportedContentLanguage.h"
#include "state/AppConfiguration.h"
#include "state/AppState.h"
#include "support/Text.h"

#include <QLocale>

namespace pendrel::PanelTexts {

namespace {

// Rewrites a locale's date or time pattern run by run (quoted literals kept
// whole): `rewrite` gets each run of one pattern letter and gives what
// replaces it; an empty answer drops the run and the separators before it
// (or, at the start, after it).
template <class Rewrite>
QString rewritePattern(const QString &pattern, const Rewrite &rewrite)
{
    QString out;
    bool dropFollowingSeparators = false;
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        if (c == u'\'') {
            const qsizetype end = pattern.indexOf(u'\'', i + 1);
            const qsizetype stop = end < 0 ? pattern.size() : end + 1;
            out += pattern.mid(i, stop - i);
            i = stop;
            dropFollowingSeparators = false;
            continue;
        }
        if (!c.isLetter()) {
            if (!dropFollowingSeparators)
                out += c;
            ++i;
            continue;
        }
        qsizetype run = i;
        while (run < pattern.size() && pattern[run] == c)
            ++run;
        const QString replaced = rewrite(c, run - i);
        if (replaced.isEmpty()) {
            const bool atStart = out.trimmed().isEmpty();
            while (!out.isEmpty() && !out.back().isLetter() && out.back() != u'\'')
                out.chop(1);
            dropFollowingSeparators = atStart;
        } else {
            out += replaced;
            dropFollowingSeparators = false;
        }
        i = run;
    }
    return out;
}

// The locale's date with an abbreviated month and no weekday ("Dec 7, 2026",
// "7. Dez. 2026"), and its time with seconds and no zone ("5:17:04 PM",
// "17:17:04").
QString abbreviatedDateFormat(const QLocale &locale)
{
    return rewritePattern(locale.dateFormat(QLocale::LongFormat), [](QChar c, qsizetype n) {
        if (c == u'd' && n >= 3)
            return QString();
        if (c == u'M' && n >= 4)
            return QStringLiteral("MMM");
        return QString(n, c);
    });
}

QString standardTimeFormat(const QLocale &locale)
{
    return rewritePattern(locale.timeFormat(QLocale::LongFormat),
                          [](QChar c, qsizetype n) { return c == u't' ? QString() : QString(n, c); });
}

} // namespace

QColor toneText(Tone tone)
{
    switch (tone) {
    case Tone::info:
        return QColor::fromRgbF(0.08f, 0.36f, 0.74f);
    case Tone::success:
        return QColor::fromRgbF(0.09f, 0.46f, 0.22f);
    case Tone::danger:
        return QColor::fromRgbF(0.79f, 0.16f, 0.14f);
    case Tone::muted:
        break;
    }
    // A shade darker than (0.40, 0.43, 0.50), which reaches only 4.48:1 on
    // its pill: small text needs 4.5.
    return QColor::fromRgbF(0.36f, 0.39f, 0.46f);
}

QColor toneBackground(Tone tone)
{
    switch (tone) {
    case Tone::info:
        return QColor::fromRgbF(0.90f, 0.95f, 1.00f);
    case Tone::success:
        return QColor::fromRgbF(0.89f, 0.98f, 0.92f);
    case Tone::danger:
        return QColor::fromRgbF(1.00f, 0.92f, 0.92f);
    case Tone::muted:
        break;
    }
    return QColor::fromRgbF(0.93f, 0.94f, 0.96f);
}

Pill statusPill(JobStatus status)
{
    switch (status) {
    case JobStatus::submitted:
        return {QStringLiteral("Queued"), Tone::info};
    case JobStatus::running:
        return {QStringLiteral("Working"), Tone::info};
    case JobStatus::success:
        return {QStringLiteral("Ready"), Tone::success};
    case JobStatus::error:
        return {QStringLiteral("Issue"), Tone::danger};
    case JobStatus::aborted:
        break;
    }
    return {QStringLiteral("Stopped"), Tone::muted};
}

QString normalizedError(const QString &message)
{
    const QString lower = message.toLower();
    if (lower == u"empty source text." || lower == u"empty source text")
        return QStringLiteral("Nothing to process");
    if (lower == u"no active session." || lower == u"no active session")
        return QStringLiteral("Sign in again");
    return message;
}

QString primaryMessage(const JobRecord &job)
{
    switch (job.status) {
    case JobStatus::submitted:
        return QStringLiteral("Ready in queue");
    case JobStatus::running:
        // The running step reads as its label ("Generating images").
        return job.step ? jobStepLabel(*job.step) : QStringLiteral("Processing article");
    case JobStatus::success:
        return QStringLiteral("Article ready");
    case JobStatus::error:
        if (job.error && !job.error->message.isEmpty())
            return normalizedError(job.error->message);
        return QStringLiteral("Needs attention");
    case JobStatus::aborted:
        break;
    }
    return QStringLiteral("Processing stopped");
}

QString jobAnnouncement(const JobRecord &job)
{
    return statusPill(job.status).title + QStringLiteral(": ") + primaryMessage(job);
}

std::optional<QString> secondaryMessage(const JobRecord &job)
{
    switch (job.status) {
    case JobStatus::submitted:
        return QStringLiteral("We\u2019ll start as soon as the current work finishes.");
    case JobStatus::running:
        return QStringLiteral("The article is moving through the pipeline now.");
    case JobStatus::success:
        return std::nullopt;
    case JobStatus::error:
        if (job.step && *job.step != JobStep::error)
            return QStringLiteral("Stopped during ") + jobStepLabel(*job.step).toLower() + u'.';
        return std::nullopt;
    case JobStatus::aborted:
        break;
    }
    return QStringLiteral("You can retry when you're ready.");
}

JobCard jobCard(const AppState &state, const JobRecord &job)
{
    JobCard card{statusPill(job.status), primaryMessage(job), secondaryMessage(job)};
    if (!job.isWaiting())
        return card;
    const Pill waiting{QStringLiteral("Waiting"), Tone::muted};
    switch (state.jobHold()) {
    case AppState::JobHold::notSaving:
        return {waiting, QStringLiteral("Held: changes cannot be saved"),
                QStringLiteral("It goes on once the state file can be written again.")};
    case AppState::JobHold::signedOut:
        return {waiting, QStringLiteral("Waiting for sign-in"),
                QStringLiteral("It starts once you are signed in again.")};
    case AppState::JobHold::offline:
        return {waiting, QStringLiteral("Waiting for Pendrel"),
                QStringLiteral("It starts when the service can be reached again.")};
    case AppState::JobHold::serviceError:
        return {waiting, QStringLiteral("Waiting for Pendrel"),
                QStringLiteral("It starts when the service works again.")};
    case AppState::JobHold::checkingService:
    case AppState::JobHold::none:
        break;
    }
    return card;
}

std::optional<QString> crosspostSummary(const JobRecord &job)
{
    int posted = 0, publishing = 0, issues = 0, skipped = 0;
    for (const JobSocialPublishResult &r : job.socialPublishes) {
        switch (r.status) {
        case JobSocialPublishStatus::success:
            ++posted;
            break;
        case JobSocialPublishStatus::pending:
        case JobSocialPublishStatus::running:
            ++publishing;
            break;
        case JobSocialPublishStatus::error:
            ++issues;
            break;
        case JobSocialPublishStatus::skipped:
            ++skipped;
            break;
        }
    }
    QStringList parts;
    for (const auto &[word, count] : {std::pair{"Posted ", posted}, std::pair{"Publishing ", publishing},
                                      std::pair{"Issues ", issues}, std::pair{"Skipped ", skipped}}) {
        if (count > 0)
            parts << QLatin1StringView(word) + QString::number(count);
    }
    if (parts.isEmpty())
        return std::nullopt;
    return QStringLiteral("Crossposting: ") + parts.join(QStringLiteral(" \u00B7 "));
}

QString previewHeadline(const std::optional<ClipPayload> &clip)
{
    if (!clip)
        return QStringLiteral("Nothing captured yet");
    if (!clip->title.isEmpty())
        return clip->title;
    return clip->type == ClipType::url ? QStringLiteral("URL captured") : QStringLiteral("Clipboard content");
}

QString previewBody(const std::optional<ClipPayload> &clip)
{
    const QString placeholder = QStringLiteral(
        "Capture clipboard text or paste a URL to see a clean preview before sending it into the pipeline.");
    if (!clip)
        return placeholder;
    if (clip->type == ClipType::url && clip->text.isEmpty())
        return QStringLiteral("We\u2019re ready to extract the article and prepare it for transformation.");
    const QString body = text::trimmed(clip->text);
    if (body.isEmpty())
        return placeholder;
    if (text::characterCount(body) >= 221)
        return text::characterPrefix(body, 220) + u'\u2026';
    return body;
}

QString headerSubtitle(const AppState &state)
{
    // Above everything else: each change made now is lost at the next quit.
    if (const std::optional<QString> &error = state.stateSaveError())
        return QStringLiteral("Changes are not being saved (%1). Jobs wait until saving works again.")
            .arg(*error);
    if (const std::optional<QString> &away = state.serviceUnreachable()) {
        if (state.serviceAnswersWithError())
            return QStringLiteral(
                       "Pendrel answers with an error (%1). Jobs wait and start when it works again.")
                .arg(*away);
        return QStringLiteral("Offline: Pendrel cannot be reached (%1). Jobs wait and start when it answers.")
            .arg(*away);
    }
    if (state.isWaitingForSecretStore())
        return QStringLiteral("Waiting for your desktop's secret store. Answer its prompt to continue.");
    if (state.browserAuthStatusMessage() && !state.browserAuthStatusMessage()->isEmpty())
        return *state.browserAuthStatusMessage();
    return QStringLiteral("Capture text or URLs, then let Pendrel publish the article for you.");
}

Badge headerBadge(const AppState &state)
{
    if (state.stateSaveError())
        return {QStringLiteral("Not saving"), false};
    if (state.serviceUnreachable())
        return {state.serviceAnswersWithError() ? QStringLiteral("Service error") : QStringLiteral("Offline"),
                false};
    if (state.isBrowserAuthInProgress())
        return {QStringLiteral("Browser auth"), true};
    if (state.isSigningIn())
        return {QStringLiteral("Signing in"), true};
    // Jobs that wait for a sign-in are not being written.
    if ((state.processingCount() > 0 || state.queuedCount() > 0)
        && state.jobHold() != AppState::JobHold::signedOut)
        return {QStringLiteral("Writing"), true};
    if (state.authState().status == AuthStatus::authenticated)
        return {QStringLiteral("Ready"), false};
    return {QStringLiteral("Secure auth"), false};
}

// Signed in from the stored session, before the service has answered (or
// while it cannot): the workspace is not known yet, which is not the same
// as a workspace without a name or credits.
QString tenantName(const AppState &state)
{
    const AuthState &auth = state.authState();
    if (!auth.tenantName && !auth.tenantID && auth.session)
        return QStringLiteral("Not known yet");
    return auth.tenantName.value_or(auth.tenantID.value_or(QStringLiteral("\u2014")));
}

QString balance(const AppState &state)
{
    const AuthState &auth = state.authState();
    if (!auth.balanceCredits && auth.session)
        return QStringLiteral("Not known yet");
    return QString::number(auth.balanceCredits.value_or(0)) + QStringLiteral(" credits");
}

std::optional<QString> queueLine(const AppState &state)
{
    const int processing = state.processingCount();
    const int queued = state.queuedCount();
    if (processing == 0 && queued == 0)
        return std::nullopt;
    return QStringLiteral("Processing: %1 \u00B7 Queued: %2").arg(processing).arg(queued);
}

QString sendButtonTitle(const AppState &state)
{
    return state.processingCount() + state.queuedCount() > 0 ? QStringLiteral("Add to queue")
                                                             : QStringLiteral("Send to Lumenflow");
}

QString credits(qint64 amount)
{
    return QString::number(amount) + QStringLiteral(" credits");
}

QString costBreakdownLine(const CostBreakdown &breakdown)
{
    QStringList parts;
    for (const CostBreakdownItem &item : breakdown.items)
        parts << item.label + QStringLiteral(" +") + QString::number(item.credits);
    return parts.join(QStringLiteral(" \u00B7 "));
}

QString resultTitle(const JobRecord &job)
{
    if (job.title && !job.title->isEmpty())
        return *job.title;
    if (job.result && !job.result->title.isEmpty())
        return job.result->title;
    return QStringLiteral("Article ready");
}

std::optional<QString> articleAddress(const JobRecord &job)
{
    if (job.result && job.result->url)
        return job.result->url;
    return job.savedURL;
}

QString jobRowTitle(const JobRecord &job)
{
    if (job.title && !job.title->isEmpty())
        return *job.title;
    if (job.result && !job.result->title.isEmpty())
        return job.result->title;
    return previewHeadline(job.clip);
}

QUrl dashboardURL(QStringView relativePath)
{
    // Appended to the origin's path, so an origin with a path prefix keeps it.
    QUrl base = AppConfiguration::apiBaseURL();
    QString path = base.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    base.setPath(path + relativePath.toString());
    return base;
}

QString languageSummary(const QString &code)
{
    if (const std::optional<SupportedContentLanguage> language = SupportedContentLanguage::byCode(code))
        return language->flag + u' ' + language->name;
    return QStringLiteral("\U0001F310 ") + code.toUpper();
}

QString logLine(const JobLogEntry &entry)
{
    const QLocale locale;
    const QDateTime local = entry.timestamp.toLocalTime();
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + u' '
           + locale.toString(local.time(), standardTimeFormat(locale)) + QStringLiteral(" \u00B7 ") + entry.message;
}

std::optional<QString> recentJobSubtitle(const JobRecord &job)
{
    if (job.status == JobStatus::error)
        return job.error ? std::optional<QString>(job.error->message) : std::nullopt;
    if ((job.status == JobStatus::submitted || job.status == JobStatus::running) && job.step)
        return jobStepLabel(*job.step);
    return std::nullopt;
}

QString shortcutSetupLine(bool added, const QList<ShortcutBinding> &others, const ShortcutKeys &keys)
{
    QStringList taken;
    for (const ShortcutBinding &b : others)
        taken.append(QStringLiteral("\u201C%1\u201D (%2)").arg(b.title, b.where));
    const QString holders = taken.size() < 2 ? taken.value(0)
                                             : taken.mid(0, taken.size() - 1).join(QStringLiteral(", "))
                                                   + QStringLiteral(" and ") + taken.last();
    const QString chosen = keys.displayText();
    if (added && taken.isEmpty())
        return QStringLiteral("%1 captures from any app, through GNOME's keyboard shortcuts.").arg(chosen);
    if (added)
        return QStringLiteral("Set up in GNOME's keyboard shortcuts, but %1 is also %2. "
                              "Choose other keys, or change that in Settings \u203A Keyboard.")
            .arg(chosen, holders);
    if (taken.isEmpty())
        return QStringLiteral("Add %1 to GNOME's keyboard shortcuts to capture from any app.").arg(chosen);
    return QStringLiteral("%1 is already %2. Choose other keys, or change that in Settings \u203A Keyboard first.")
        .arg(chosen, holders);
}

QString shortcutKeysButton(const ShortcutKeys &keys, bool recording)
{
    return recording ? QStringLiteral("Press keys\u2026") : keys.displayText();
}

QString shortcutKeysDescription()
{
    return QStringLiteral("Captures the clipboard from any app. Press to record other keys: hold Ctrl, Alt or "
                          "Super with a key; Escape cancels, Backspace restores %1.")
        .arg(ShortcutKeys().displayText());
}

QString shortcutKeysRecorded(const ShortcutKeys &keys)
{
    return QStringLiteral("Keyboard shortcut set to %1.").arg(keys.displayText());
}

QString shortcutKeysRefused()
{
    return QStringLiteral("Hold Ctrl, Alt or Super with a letter, digit or function key.");
}

QString shortcutSetupAction(bool added)
{
    return added ? QStringLiteral("Remove") : QStringLiteral("Set Up");
}

} // namespace pendrel::PanelTexts
