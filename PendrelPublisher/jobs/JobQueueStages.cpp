// The stages of one run, from extraction to voice-over. Each finished stage
// leaves a checkpoint in the record, so a run after a restart skips it.

#include "jobs/JobQueue.h"
#include "jobs/PipelineText.h"
#include "state/AppState.h"
#include "support/Text.h"

namespace pendrel {

QCoro::Task<JobResult> JobQueue::runStages(JobRecord start, QString tenantID)
{
    const QUuid id = start.id;
    const ClipperSettings settings = start.settingsSnapshot;
    QString text = start.sourceText.value_or(start.clip.text);
    const QString sourceURL = start.sourceURL.value_or(start.clip.url);
    const QString author = start.clip.author.value_or(QString());

    ensureJobNotAborted(id);

    // Extract: only an address clip that has no text yet.
    if (start.clip.type == ClipType::url && text::trimmed(text).isEmpty()) {
        co_await enterStage(id, JobStep::extract, QStringLiteral("Extracting text from URL"));
        text = co_await apiClient_.extractText(sourceURL, tenantID);
        ensureJobNotAborted(id);
        state().updateJob(id, [&](JobRecord &j) {
            j.sourceText = text;
            j.sourceURL = sourceURL;
        });
    }

    const QString trimmedText = text::trimmed(text);
    if (trimmedText.isEmpty())
        throw APIClientError(APIClientError::Kind::emptyText);
    const QString merged = mergeSourcePrefix(trimmedText, sourceURL, author);

    // Analyze: a failure costs only the analysis, never the article.
    ContentMetadata metadata;
    if (const std::optional<JobRecord> current = state().job(id); current && current->metadata) {
        metadata = *current->metadata;
    } else {
        co_await enterStage(id, JobStep::analyze, QStringLiteral("Analyzing content"));
        std::optional<ContentMetadata> analyzed;
        try {
            analyzed = co_await apiClient_.analyze(merged, settings.language, tenantID);
        } catch (...) {
        }
        if (!analyzed)
            state().addLog(id, LogLevel::warn, QStringLiteral("Analysis failed, using defaults"));
        metadata = analyzed.value_or(ContentMetadata{});
        state().updateJob(id, [&](JobRecord &j) { j.metadata = metadata; });
    }
    ensureJobNotAborted(id);

    // Transform: recorded before the abort check, so the work is kept.
    TransformResult transformResult;
    if (const std::optional<JobRecord> current = state().job(id); current && current->transformResult) {
        transformResult = *current->transformResult;
    } else {
        co_await enterStage(id, JobStep::transform, QStringLiteral("Transforming content"));
        transformResult = co_await apiClient_.transform(merged, metadata, settings, tenantID);
        state().updateJob(id, [&](JobRecord &j) { j.transformResult = transformResult; });
    }
    ensureJobNotAborted(id);

    QString content = start.contentAfterHumanize.value_or(
        start.contentAfterIllustrations.value_or(transformResult.transformedContent));
    std::optional<IllustrationMetadata> illustrations = start.illustrationsMetadata;

    if (settings.enableImages && !start.contentAfterIllustrations) {
        co_await enterStage(id, JobStep::illustrations, QStringLiteral("Generating illustrations"));
        const IllustrationsResult generated = co_await apiClient_.generateIllustrations(
            content, settings.language, tenantID, settings.imagesCount);
        ensureJobNotAborted(id);
        state().updateJob(id, [&](JobRecord &j) {
            j.contentAfterIllustrations = generated.content;
            j.illustrationsMetadata = generated.metadata;
        });
        content = generated.content;
        illustrations = generated.metadata;
    }

    if (settings.enableHumanize && !start.contentAfterHumanize) {
        co_await enterStage(id, JobStep::humanize, QStringLiteral("Humanizing content"));
        const QString humanized = co_await apiClient_.humanize(content, tenantID);
        ensureJobNotAborted(id);
        state().updateJob(id, [&](JobRecord &j) { j.contentAfterHumanize = humanized; });
        content = humanized;
    }
    ensureJobNotAborted(id);

    const QString title = extractTitle(content);
    co_await enterStage(id, JobStep::save, QStringLiteral("Saving article"));
    const JobResult saved = co_await apiClient_.saveArticle(
        content, title, settings.language, id, tenantID, metadata, transformResult, illustrations, settings);
    const QString articleID = saved.articleID;
    const std::optional<QString> publicURL = state().normalizePublicURL(saved.url);
    state().updateJob(id, [&](JobRecord &j) {
        j.articleID = articleID;
        j.savedURL = publicURL;
        j.finalContent = content;
        j.title = title;
    });
    ensureJobNotAborted(id);

    // Voice-over: the article stands without it.
    if (settings.enableAudio) {
        co_await enterStage(id, JobStep::voiceover, QStringLiteral("Queueing voice-over"));
        std::optional<QString> voiceoverFailure;
        try {
            co_await apiClient_.queueVoiceover(articleID, content, settings.language);
        } catch (const std::exception &e) {
            voiceoverFailure = describeError(e);
        } catch (...) {
            voiceoverFailure = QStringLiteral("Unknown error");
        }
        if (voiceoverFailure) {
            state().addLog(id, LogLevel::warn, QStringLiteral("Voice-over failed: ") + *voiceoverFailure);
            state().updateJob(id, [](JobRecord &j) { j.voiceoverFailed = true; });
        } else {
            state().updateJob(id, [](JobRecord &j) { j.voiceoverQueued = true; });
        }
    }

    co_return JobResult{articleID, publicURL, title};
}

} // namespace pendrel
