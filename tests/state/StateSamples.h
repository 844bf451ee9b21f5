#pragma once

#include "state/PersistedState.h"

#include <QDateTime>
#include <QStringList>
#include <QUuid>

namespace pendrel::test {

// States as a long-used installation holds them: every optional member set,
// articles with non-ASCII text and characters the writer escapes. All of it
// is a function of the arguments, so two builds compare equal.

inline QDateTime sampleMoment(qint64 seconds)
{
    return QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC).addSecs(seconds);
}

inline QUuid sampleUuid(const QString &what)
{
    return QUuid::createUuidV5(QUuid(), what);
}

// The n-th case of an enumeration, cycling through all of them.
template <class E>
E nthCase(qsizetype n)
{
    const auto &values = EnumStrings<E>::values;
    return values[std::size_t(n) % values.size()].first;
}

// Words until at least `length` characters; never ends inside a surrogate pair.
inline QString sampleText(quint32 seed, qsizetype length)
{
    static const QStringList words{
        QStringLiteral("trains"),        QStringLiteral("run"),
        QStringLiteral("Bahnhöfe"),      QStringLiteral("日本の鉄道"),
        QStringLiteral("\"quoted\""),    QStringLiteral("back\\slash"),
        QStringLiteral("a/b/c"),         QStringLiteral("tab\there"),
        QStringLiteral("line\nbreak"),   QStringLiteral("🚆🚉"),
        QStringLiteral("ünïcödé"),       QStringLiteral("\r\n"),
        QStringLiteral("the"),           QStringLiteral("timetable"),
        QStringLiteral("# Heading\n\n"), QStringLiteral("[link](https://example.com/x?y=1&z=2)"),
        QStringLiteral("\u0001ctl"),
    };
    QString text;
    text.reserve(length + 48);
    quint32 x = seed * 2654435761u + 1;
    while (text.size() < length) {
        x = x * 1103515245u + 12345u;
        text += words.at(qsizetype((x >> 16) % quint32(words.size())));
        text += u' ';
    }
    return text;
}

inline ClipperSettings richSettings(int index)
{
    ClipperSettings s;
    s.language = QStringLiteral("de");
    s.articleSize = nthCase<ArticleSize>(index);
    s.seoStandardMode = nthCase<SEOStandardMode>(index);
    s.enableHumanize = index % 2 == 0;
    s.enableImages = true;
    s.imagesCount = 3;
    s.enableAudio = index % 3 == 0;
    s.enableCompetition = true;
    s.competitionOptions = CompetitionOptions{true, false, true, false, true, false};
    s.targetDomain = QStringLiteral("blog.example.com");
    s.linksPresetID = QStringLiteral("preset-1");
    s.authorID = QStringLiteral("author-7");
    s.authorName = QStringLiteral("Zoë Ångström");
    s.autoSend = index % 2 == 1;
    s.socialCrosspostPreferences = {
        SocialCrosspostPreference{QStringLiteral("acc-reddit"), SocialCrosspostPlatform::reddit,
                                  QStringLiteral("u/trains"), true, SocialCrosspostMode::adapt,
                                  QStringLiteral("railways"), std::nullopt, std::nullopt},
        SocialCrosspostPreference{QStringLiteral("acc-shop"), SocialCrosspostPlatform::shopifyBlog,
                                  QStringLiteral("Shop"), false, SocialCrosspostMode::article, std::nullopt,
                                  qint64(42), QStringLiteral("News")},
    };
    return s;
}

// A job with every member set; its three long texts are about articleLength each.
inline JobRecord richJob(int index, qsizetype articleLength, int logLines)
{
    const QString n = QString::number(index);
    const auto uuid = [&n](const char *what) { return sampleUuid(QLatin1StringView(what) + n); };
    const auto seed = quint32(index) * 8u;
    JobRecord job;
    job.id = uuid("job");
    job.status = nthCase<JobStatus>(index);
    job.processing = index % 2 == 1;
    job.step = nthCase<JobStep>(index);
    job.createdAt = sampleMoment(index * 600);
    job.updatedAt = sampleMoment(index * 600 + 599);
    job.clip = ClipPayload{uuid("clip"),
                           nthCase<ClipType>(index),
                           sampleText(seed, 300),
                           QStringLiteral("https://example.com/articles/") + n,
                           QStringLiteral("Clip ") + n,
                           QStringLiteral("Ada"),
                           sampleMoment(index * 600 - 5)};
    job.settingsSnapshot = richSettings(index);
    job.aborted = index % 5 == 4;
    job.acknowledged = index % 3 == 1;
    for (int i = 0; i < logLines; ++i)
        job.logs.append(
            JobLogEntry{uuid(qPrintable(QStringLiteral("log %1 ").arg(i))), sampleMoment(index * 600 + i),
                        nthCase<LogLevel>(i),
                        QStringLiteral("Stage %1 finished: %2").arg(i).arg(sampleText(seed + 1, 40))});
    job.result = JobResult{QStringLiteral("art-") + n, QStringLiteral("https://blog.example.com/a/") + n,
                           QStringLiteral("Title ") + n};
    job.error =
        JobErrorInfo{QStringLiteral("Not enough credits"), 402, QStringLiteral("INSUFFICIENT_CREDITS")};
    job.notifiedSubmitted = true;
    job.notifiedSuccess = index % 2 == 0;
    job.sourceText = sampleText(seed + 2, articleLength);
    job.sourceURL = QStringLiteral("https://source.example.com/") + n;
    job.metadata = ContentMetadata{{QStringLiteral("tech"), QStringLiteral("travel")},
                                   {QStringLiteral("adult")},
                                   {QStringLiteral("time")}};
    job.transformResult = TransformResult{sampleText(seed + 3, articleLength),
                                          {QStringLiteral("https://src.example.com/1")},
                                          87.5,
                                          {QStringLiteral("talent")},
                                          91.25,
                                          {{QStringLiteral("description"), QStringLiteral("On trains")},
                                           {QStringLiteral("keywords"), QStringLiteral("trains, rail")}}};
    job.contentAfterIllustrations = sampleText(seed + 4, 600);
    job.illustrationsMetadata =
        IllustrationMetadata{{IllustrationAsset{uuid("asset"), QStringLiteral("https://i.example.com/") + n}},
                             QStringLiteral("gen-") + n,
                             sampleMoment(index * 600 + 300),
                             QStringLiteral("ink"),
                             QStringLiteral("provider")};
    job.contentAfterHumanize = sampleText(seed + 5, 600);
    job.articleID = QStringLiteral("art-") + n;
    job.savedURL = QStringLiteral("/blog/article-") + n;
    job.finalContent = sampleText(seed + 6, articleLength);
    job.title = QStringLiteral("Über Züge ") + n;
    job.voiceoverQueued = true;
    job.voiceoverFailed = index % 4 == 3;
    job.socialPublishes = {JobSocialPublishResult{
        nthCase<SocialCrosspostPlatform>(index), QStringLiteral("acc-") + n, QStringLiteral("Ada on the web"),
        nthCase<SocialCrosspostMode>(index), nthCase<JobSocialPublishStatus>(index),
        QStringLiteral("adapt-") + n, QStringLiteral("post-") + n, QStringLiteral("rate limited")}};
    return job;
}

inline ClipPayload richPendingClip()
{
    return ClipPayload{sampleUuid(QStringLiteral("pending")),
                       ClipType::url,
                       QString(),
                       QStringLiteral("https://example.com/next"),
                       QStringLiteral("URL"),
                       QStringLiteral("Bo"),
                       sampleMoment(-60)};
}

inline PersistedState richState(int jobCount, qsizetype articleLength, int logLines)
{
    PersistedState state;
    state.settings = richSettings(0);
    state.pendingClip = richPendingClip();
    for (int i = 0; i < jobCount; ++i)
        state.jobs.append(richJob(i, articleLength, logLines));
    return state;
}

} // namespace pendrel::test
