// The benchmarks measure what they claim only if the generated history is
// what a long-time user has: these check its shape, not its exact text.

#include "SyntheticHistory.h"

#include <QTest>

using namespace pendrel;

class TestSyntheticHistory : public QObject {
    Q_OBJECT

private slots:
    void shape_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::newRow("one") << 1;
        QTest::newRow("hundred") << 100;
    }
    void shape()
    {
        QFETCH(int, jobs);
        const PersistedState state = bench::syntheticHistory(jobs);
        QCOMPARE(state.jobs.size(), jobs);
        QCOMPARE(bench::syntheticHistory(jobs), state); // the same on every run
        QVERIFY(bench::syntheticHistory(jobs, 7) != state);

        int crossposted = 0;
        for (qsizetype i = 0; i < state.jobs.size(); ++i) {
            const JobRecord &job = state.jobs.at(i);
            if (i > 0)
                QVERIFY(state.jobs.at(i - 1).createdAt > job.createdAt); // newest first
            QVERIFY(job.sourceText && job.metadata && job.transformResult && job.contentAfterIllustrations
                    && job.illustrationsMetadata && job.contentAfterHumanize && job.finalContent && job.title
                    && job.articleID && job.savedURL);
            // Articles of 20 to 60 KB; the illustrated ones carry a few image lines more.
            for (const JobText *article : {&job.transformResult->transformedContent, &*job.contentAfterHumanize}) {
                const qsizetype bytes = article->toString().toUtf8().size();
                QVERIFY2(bytes >= 20 * 1024 && bytes <= 61 * 1024, qPrintable(QString::number(bytes)));
            }
            QVERIFY(job.contentAfterIllustrations->toString().contains(job.illustrationsMetadata->assets.first().url));
            QVERIFY(job.logs.size() >= 8 && job.logs.size() <= JobRecord::maxLogLines);
            QVERIFY(job.status != JobStatus::submitted && job.status != JobStatus::running); // nothing to resume
            crossposted += job.socialPublishes.isEmpty() ? 0 : 1;
        }
        if (jobs >= 100)
            QVERIFY(crossposted > jobs / 5 && crossposted < jobs / 2);
        // Whole seconds only, so that the state file gives it back unchanged.
        QCOMPARE(PersistedState::decode(state.encode()), state);
    }

    void advanceStageChangesTheJobWithinTheLogLimit()
    {
        JobRecord job = bench::syntheticHistory(1).jobs.first();
        while (job.logs.size() < JobRecord::maxLogLines)
            bench::advanceStage(job, int(job.logs.size()));
        const JobRecord before = job;
        bench::advanceStage(job, 1000);
        QVERIFY(job != before);
        QCOMPARE(job.logs.size(), JobRecord::maxLogLines);
        QVERIFY(job.logs.last().message.endsWith(QStringLiteral("(1000)")));
        QVERIFY(job.updatedAt > before.updatedAt);
    }
};

QTEST_GUILESS_MAIN(TestSyntheticHistory)
#include "tst_synthetichistory.moc"
