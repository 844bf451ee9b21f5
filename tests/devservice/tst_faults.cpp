// The application's queue against a real pendrel-devservice that misbehaves
// on one pipeline call at a time: every job ends, in success or in an error
// a person can read, the next job runs normally, no job is lost or run
// twice, and the event loop keeps turning while the service stalls.

#include "api/APIClient.h"
#include "jobs/JobQueue.h"
#include "state/AppState.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSet>
#include <QTest>
#include <QTimer>

#include "AppStateHarness.h"
#include "DevServiceProcess.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

// The longest the event loop went without running a 20 ms timer.
class LoopWatch {
public:
    LoopWatch()
    {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, clock_.restart());
        });
        timer_.start(20);
    }
    [[nodiscard]] qint64 longestGapMs() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<DevServiceProcess> dev;
    std::unique_ptr<AppStateHarness> h;
    int sent = 0;
    int succeeded = 0;

    void control(const QString &what)
    {
        QCOMPARE(request("POST", dev->origin() + QStringLiteral("/_dev/") + what).status, 200);
    }

    // Sends one text job and waits for the queue to finish it.
    JobRecord runJob(const QString &text)
    {
        h->sendText(text);
        ++sent;
        if (!QTest::qWaitFor([&] { return !h->state->jobQueue().isProcessing(); }, 30000))
            return {};
        const JobRecord job = h->state->jobs().first();
        if (job.status == JobStatus::success) {
            ++succeeded;
            // A finished job refreshes the balance; let that end too, so
            // that nothing is in flight when the next fault is set.
            const qint64 balance =
                QJsonDocument::fromJson(request("GET", dev->origin() + QStringLiteral("/_dev/state")).body)
                    .object()
                    .value(QStringLiteral("balance"))
                    .toInteger();
            (void)QTest::qWaitFor([&] { return h->state->authState().balanceCredits == std::optional<qint64>(balance); }, 10000);
        }
        return job;
    }

private slots:
    void initTestCase()
    {
        dev = std::make_unique<DevServiceProcess>();
        QVERIFY2(!dev->origin().isEmpty(), "the service did not start");
        h = std::make_unique<AppStateHarness>();
        qputenv("PENDREL_API_BASE_URL", dev->origin().toUtf8());
        blockingWait(h->state->bootstrap());
        QVERIFY(h->signInAsDemo());
        ClipperSettings settings = h->state->settings();
        settings.enableImages = true;
        settings.imagesCount = 1;
        settings.enableHumanize = true;
        h->state->setSettings(settings);
        // A stalled answer gives up after this long without bytes moving.
        APIClient::setTransferTimeoutMs(1500);
    }
    void cleanupTestCase()
    {
        QTest::qWait(300); // the last workspace requests of the refresh
        APIClient::setTransferTimeoutMs(60000);
        h.reset();
        dev.reset();
    }

    void oneMisbehavingCall_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("succeeds");
        const QString transform = QStringLiteral("/api/blog/admin/transform");
        const QString save = QStringLiteral("/api/blog/save");
        const QString illustrations = QStringLiteral("/api/blog/illustrations/generate");
        const QString analyze = QStringLiteral("/api/blog/admin/analyze");
        QTest::newRow("transform dropped") << transform << QStringLiteral("drop") << false;
        QTest::newRow("transform stalled") << transform << QStringLiteral("stall") << false;
        QTest::newRow("transform 502") << transform << QStringLiteral("5xx") << false;
        QTest::newRow("transform cut off") << transform << QStringLiteral("malformed") << false;
        QTest::newRow("transform wrong types") << transform << QStringLiteral("wrong-types") << false;
        QTest::newRow("transform slow") << transform << QStringLiteral("slow") << true;
        // Analysis is optional: its failure leaves the metadata empty.
        QTest::newRow("analyze cut off") << analyze << QStringLiteral("malformed") << true;
        QTest::newRow("analyze wrong types") << analyze << QStringLiteral("wrong-types") << true;
        QTest::newRow("illustrations stalled") << illustrations << QStringLiteral("stall") << false;
        QTest::newRow("illustrations wrong types") << illustrations << QStringLiteral("wrong-types") << false;
        QTest::newRow("save dropped") << save << QStringLiteral("drop") << false;
        QTest::newRow("save cut off") << save << QStringLiteral("malformed") << false;
        QTest::newRow("save wrong types") << save << QStringLiteral("wrong-types") << false;
        QTest::newRow("save slow") << save << QStringLiteral("slow") << true;
    }
    void oneMisbehavingCall()
    {
        QFETCH(QString, path);
        QFETCH(QString, kind);
        QFETCH(bool, succeeds);
        control(QStringLiteral("reset"));
        if (kind == u"drop")
            control(QStringLiteral("drop?path=") + path);
        else
            control(QStringLiteral("fault?path=%1&kind=%2").arg(path, kind));

        LoopWatch watch;
        const JobRecord faulty = runJob(QStringLiteral("Night trains are back across Europe, %1.").arg(sent));
        QVERIFY2(!h->state->jobQueue().isProcessing(), "the job never ended");
        if (succeeds) {
            QCOMPARE(faulty.status, JobStatus::success);
        } else {
            QCOMPARE(faulty.status, JobStatus::error);
            QVERIFY(faulty.error);
            const QString message = faulty.error->message;
            QVERIFY2(!message.trimmed().isEmpty(), "an error without a message");
            // Written for a person: no exception class names or raw bytes.
            QVERIFY2(!message.contains(u"std::") && !message.contains(u"exception") && !message.contains(u'{'),
                     qPrintable(message));
            if (kind == u"stall")
                QCOMPARE(message, QStringLiteral("The request timed out."));
        }
        QVERIFY2(watch.longestGapMs() < 2000,
                 qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(watch.longestGapMs())));

        // The queue goes on: the next job, with the service healthy again.
        control(QStringLiteral("reset"));
        const JobRecord next = runJob(QStringLiteral("Trains after the fault, %1.").arg(sent));
        QCOMPARE(next.status, JobStatus::success);
        QVERIFY(next.id != faulty.id);
    }

    // Every job sent is in the history once, finished, and the service holds
    // one article per success.
    void nothingLostOrDoubled()
    {
        const QList<JobRecord> jobs = h->stateFile().jobs;
        QCOMPARE(jobs.size(), sent);
        QSet<QUuid> ids;
        for (const JobRecord &job : jobs) {
            ids.insert(job.id);
            QVERIFY(!job.isWaiting());
            QVERIFY(!job.processing);
        }
        QCOMPARE(ids.size(), sent);
        const QJsonObject state =
            QJsonDocument::fromJson(request("GET", dev->origin() + QStringLiteral("/_dev/state")).body).object();
        // The save answered with wrong types did store its article there.
        const int garbledSaves = 1;
        QCOMPARE(state.value(QStringLiteral("articles")).toInt(), succeeded + garbledSaves);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
