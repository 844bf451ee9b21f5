#include "SyntheticHistory.h"

#include <QStringList>

#include <array>

namespace pendrel::bench {

quint64 Random::next()
{
    quint64 z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int Random::between(int low, int high)
{
    return low + int(next() % quint64(high - low + 1));
}

QUuid Random::uuid()
{
    const quint64 a = next();
    const quint64 b = next();
    // Version 4, RFC 4122 variant, like QUuid::createUuid.
    return QUuid(uint(a >> 32), ushort(a >> 16), ushort((a & 0x0FFF) | 0x4000), uchar(((b >> 56) & 0x3F) | 0x80),
                 uchar(b >> 48), uchar(b >> 40), uchar(b >> 32), uchar(b >> 24), uchar(b >> 16), uchar(b >> 8),
                 uchar(b));
}

namespace {

using L = QLatin1StringView;

// Prose with what the encoder has to escape or transcode: quotes, slashes
// in links, line breaks, and some non-ASCII text.
constexpr std::array kWords{
    u"the",         u"build",      u"cache",      u"pipeline",  u"article",   u"reader",    u"search",
    u"engine",      u"content",    u"with",       u"and",       u"for",       u"every",     u"team",
    u"release",     u"faster",     u"compiler",   u"incremental", u"linker",  u"workflow",  u"developer",
    u"deployment",  u"minutes",    u"seconds",    u"measure",   u"profile",   u"before",    u"after",
    u"city",        u"trains",     u"schedule",   u"commuters", u"station",   u"network",   u"transit",
    u"café",        u"naïve",      u"über",       u"façade",    u"Zürich",    u"São Paulo", u"—",
    u"“quoted”",    u"\"plain quotes\"", u"it's",  u"e.g.",      u"50%",       u"3×",        u"→",
    u"of",          u"to",         u"in",         u"is",        u"that",      u"on",        u"as",
    u"it",          u"was",        u"are",        u"by",        u"this",      u"from",      u"or",
    u"be",          u"at",         u"an",         u"which",     u"their",     u"more",      u"most",
    u"strategy",    u"analysis",   u"quality",    u"evidence",  u"practice",  u"example",   u"result",
    u"measurable",  u"reliable",   u"predictable", u"critical", u"common",    u"simple",    u"modern",
};

constexpr std::array kLogMessages{
    u"Job started",          u"Extracting text from URL", u"Analyzing content",
    u"Transforming content", u"Generating illustrations", u"Humanizing content",
    u"Saving article",       u"Queueing voice-over",      u"Crosspost to LinkedIn: published",
    u"Job complete",         u"Retrying after a network error (attempt 2 of 3)",
};

QString paragraph(Random &random)
{
    QString text;
    const int words = random.between(40, 160);
    text.reserve(words * 8);
    bool sentenceStart = true;
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            text += u' ';
        const QString word = QString::fromUtf16(kWords[size_t(random.between(0, int(kWords.size()) - 1))]);
        text += sentenceStart ? word.left(1).toUpper() + word.mid(1) : word;
        sentenceStart = random.percent(8);
        if (sentenceStart)
            text += u'.';
    }
    if (random.percent(30))
        text += QStringLiteral(" See [the write-up](https://example.com/blog/%1/notes?ref=pendrel) for details")
                    .arg(random.between(1, 99999));
    text += u'.';
    return text;
}

// Articles are put together from a shared pool of paragraphs; each string
// is still its own buffer, as after reading the file. Sizes are counted in
// UTF-8 bytes, as in the file.
class Prose {
public:
    static constexpr qsizetype maxArticleBytes = 60 * 1024;

    explicit Prose(Random &random) : random_(random)
    {
        pool_.reserve(4000);
        for (int i = 0; i < 4000; ++i) {
            const QString text = paragraph(random);
            pool_.append(Paragraph{text, text.toUtf8().size()});
        }
    }

    // At least `bytes` (below the maximum), at most maxArticleBytes.
    QString article(const QString &title, qsizetype bytes)
    {
        QString text;
        text.reserve(bytes + 2048);
        text += QStringLiteral("# ") + title + QStringLiteral("\n\n");
        qsizetype size = text.toUtf8().size();
        int sinceHeading = 0;
        while (size < bytes) {
            if (++sinceHeading > random_.between(3, 6)) {
                const QString heading = QStringLiteral("## ") + snippet(40) + QStringLiteral("\n\n");
                text += heading;
                size += heading.toUtf8().size();
                sinceHeading = 0;
            }
            const Paragraph &next = pool_.at(random_.between(0, int(pool_.size()) - 1));
            if (size + next.bytes + 2 > maxArticleBytes)
                break;
            text += next.text;
            text += QStringLiteral("\n\n");
            size += next.bytes + 2;
        }
        return text;
    }

    // The start of a pool paragraph: titles and descriptions.
    QString snippet(qsizetype chars)
    {
        return pool_.at(random_.between(0, int(pool_.size()) - 1)).text.left(chars);
    }

    QString withIllustrations(const QString &content, const QList<IllustrationAsset> &assets)
    {
        const QStringList paragraphs = content.split(QStringLiteral("\n\n"));
        QString text;
        text.reserve(content.size() + assets.size() * 120);
        const qsizetype every = std::max<qsizetype>(1, paragraphs.size() / (assets.size() + 1));
        qsizetype next = 0;
        for (qsizetype i = 0; i < paragraphs.size(); ++i) {
            if (i > 0)
                text += QStringLiteral("\n\n");
            text += paragraphs.at(i);
            if (i > 0 && i % every == 0 && next < assets.size())
                text += QStringLiteral("\n\n![Illustration](") + assets.at(next++).url + u')';
        }
        return text;
    }

private:
    struct Paragraph {
        QString text;
        qsizetype bytes;
    };
    Random &random_;
    QList<Paragraph> pool_;
};

QDateTime base()
{
    return QDateTime(QDate(2024, 3, 1), QTime(8, 0), Qt::UTC);
}

ClipperSettings settingsVariant(Random &random)
{
    ClipperSettings s;
    s.language = random.percent(70) ? QStringLiteral("en") : QStringLiteral("de");
    s.articleSize = ArticleSize(random.between(0, 3));
    s.seoStandardMode = SEOStandardMode(random.between(0, 5));
    s.enableHumanize = true;
    s.enableImages = true;
    s.imagesCount = random.between(0, 4);
    s.enableAudio = random.percent(40);
    s.enableCompetition = random.percent(20);
    s.competitionOptions.winningTitles = s.enableCompetition;
    s.targetDomain = QStringLiteral("blog.example.com");
    s.linksPresetID = QStringLiteral("preset-%1").arg(random.between(1, 4));
    s.authorID = QStringLiteral("author-%1").arg(random.between(1, 3));
    s.authorName = QStringLiteral("Alex Writer");
    s.socialCrosspostPreferences = {
        SocialCrosspostPreference{QStringLiteral("acc-linkedin-1"), SocialCrosspostPlatform::linkedin,
                                  QStringLiteral("Alex at Example"), true, SocialCrosspostMode::adapt,
                                  std::nullopt, std::nullopt, std::nullopt},
        SocialCrosspostPreference{QStringLiteral("acc-shopify-1"), SocialCrosspostPlatform::shopifyBlog,
                                  QStringLiteral("Example Store"), false, SocialCrosspostMode::article,
                                  std::nullopt, 42, QStringLiteral("News")},
    };
    return s;
}

JobRecord job(int index, Random &random, Prose &prose)
{
    JobRecord j;
    j.id = random.uuid();
    j.createdAt = base().addSecs(qint64(index) * 1800 + random.between(0, 600));
    const int roll = random.between(1, 100);
    j.status = roll <= 85 ? JobStatus::success : roll <= 95 ? JobStatus::error : JobStatus::aborted;
    j.step = j.status == JobStatus::success ? JobStep::done
             : j.status == JobStatus::error ? JobStep::error
                                            : JobStep::aborted;
    j.aborted = j.status == JobStatus::aborted;
    j.acknowledged = true;
    j.notifiedSubmitted = true;
    j.notifiedSuccess = j.status == JobStatus::success;
    j.settingsSnapshot = settingsVariant(random);

    const QString title = QStringLiteral("Article %1: %2").arg(index).arg(prose.snippet(50));
    const QString source = prose.article(title, random.between(10, 40) * 1024);
    if (random.percent(60)) {
        j.clip = ClipPayload::clipboardText(source);
    } else {
        j.clip = ClipPayload::webAddress(QStringLiteral("https://news.example.org/%1/story").arg(index));
        j.sourceURL = j.clip.url;
    }
    j.clip.id = random.uuid();
    j.clip.createdAt = j.createdAt;
    j.sourceText = source;
    j.metadata = ContentMetadata{{QStringLiteral("Technology"), QStringLiteral("Software")},
                                 {QStringLiteral("25-34"), QStringLiteral("35-44")},
                                 {QStringLiteral("Slow builds")}};

    const qsizetype articleBytes = qsizetype(random.between(20, 59)) * 1024;
    TransformResult transform;
    transform.transformedContent = prose.article(title, articleBytes);
    transform.citations = {QStringLiteral("https://example.com/source/%1").arg(index),
                           QStringLiteral("https://docs.example.net/reference")};
    transform.qualityScore = random.between(600, 990) / 10.0;
    transform.seoScore = random.between(500, 990) / 10.0;
    transform.talentIntegrations = {QStringLiteral("expert-quote")};
    transform.seoMeta = {{QStringLiteral("title"), title},
                         {QStringLiteral("description"), prose.snippet(150)}};
    j.transformResult = transform;

    IllustrationMetadata illustrations;
    for (int i = random.between(1, 4); i > 0; --i) {
        const QUuid id = random.uuid();
        illustrations.assets.append(IllustrationAsset{
            id, QStringLiteral("https://cdn.pendrel.com/media/%1.svg").arg(id.toString(QUuid::WithoutBraces))});
    }
    illustrations.generationID = QStringLiteral("gen-%1").arg(index);
    illustrations.generatedAt = j.createdAt.addSecs(90);
    illustrations.style = QStringLiteral("editorial");
    illustrations.provider = QStringLiteral("pendrel");
    j.contentAfterIllustrations = prose.withIllustrations(transform.transformedContent, illustrations.assets);
    j.illustrationsMetadata = illustrations;
    j.contentAfterHumanize = prose.withIllustrations(prose.article(title, articleBytes), illustrations.assets);
    j.finalContent = *j.contentAfterHumanize + QStringLiteral("\n\n---\n*Originally captured with Pendrel.*\n");
    j.title = title;
    j.articleID = QStringLiteral("art_%1").arg(100000 + index);
    j.savedURL = QStringLiteral("https://blog.example.com/blog/article-%1").arg(index);

    if (j.status == JobStatus::success) {
        j.result = JobResult{*j.articleID, j.savedURL, title};
        j.voiceoverQueued = j.settingsSnapshot.enableAudio;
    } else if (j.status == JobStatus::error) {
        j.error = JobErrorInfo{QStringLiteral("Not enough credits for this article."), 402,
                               QStringLiteral("INSUFFICIENT_CREDITS")};
    } else {
        j.error = JobErrorInfo{QStringLiteral("Job aborted"), std::nullopt, QStringLiteral("ABORTED")};
    }

    if (random.percent(33)) {
        j.socialPublishes.append(JobSocialPublishResult{
            SocialCrosspostPlatform::linkedin, QStringLiteral("acc-linkedin-1"), QStringLiteral("Alex at Example"),
            SocialCrosspostMode::adapt, JobSocialPublishStatus::success, QStringLiteral("adapt-%1").arg(index),
            QStringLiteral("urn:li:share:%1").arg(random.next() % 1000000000), std::nullopt});
        if (random.percent(50))
            j.socialPublishes.append(JobSocialPublishResult{
                SocialCrosspostPlatform::reddit, QStringLiteral("acc-reddit-1"), QStringLiteral("u/alex"),
                SocialCrosspostMode::direct, JobSocialPublishStatus::error, std::nullopt, std::nullopt,
                QStringLiteral("No default subreddit is set for this account.")});
    }

    QDateTime at = j.createdAt;
    for (int i = random.between(8, 200); i > 0; --i) {
        at = at.addSecs(random.between(1, 20));
        const QString message =
            QString::fromUtf16(kLogMessages[size_t(random.between(0, int(kLogMessages.size()) - 1))]);
        j.logs.append(JobLogEntry{random.uuid(), at, random.percent(90) ? LogLevel::info : LogLevel::warn, message});
    }
    j.updatedAt = at;
    return j;
}

} // namespace

PersistedState syntheticHistory(int jobCount, quint64 seed)
{
    Random random(seed);
    Prose prose(random);
    PersistedState state;
    state.settings = settingsVariant(random);
    state.pendingClip = ClipPayload::clipboardText(prose.article(QStringLiteral("Pending"), 4096));
    state.pendingClip->id = random.uuid();
    state.pendingClip->createdAt = base();
    state.jobs.reserve(jobCount);
    for (int i = 0; i < jobCount; ++i)
        state.jobs.append(job(i, random, prose));
    std::reverse(state.jobs.begin(), state.jobs.end()); // newest first
    return state;
}

void advanceStage(JobRecord &job, int tick)
{
    static constexpr std::array kSteps{JobStep::extract,  JobStep::analyze, JobStep::transform,
                                       JobStep::illustrations, JobStep::humanize, JobStep::save,
                                       JobStep::voiceover, JobStep::done};
    const JobStep step = kSteps[size_t(tick) % kSteps.size()];
    job.step = step;
    job.status = step == JobStep::done ? JobStatus::success : JobStatus::running;
    job.processing = step != JobStep::done;
    const QDateTime now = base().addSecs(10'000'000 + tick);
    job.appendLog(LogLevel::info, jobStepLabel(step) + QStringLiteral(" (%1)").arg(tick), now);
    job.logs.last().id = QUuid(uint(tick), 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 1);
    job.updatedAt = now;
}

} // namespace pendrel::bench
