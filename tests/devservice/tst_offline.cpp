// The application's queue against a real pendrel-devservice reached through
// a relay that the test cuts: the network gone at start and in the middle of
// a job, and a save whose answer is lost. Jobs wait instead of failing, the
// session stays, and nothing is published twice.

#include "api/APIClient.h"
#include "jobs/JobQueue.h"
#include "state/AppState.h"
#include "ui/PanelTexts.h"

#include <QJsonDocument>
#include <QTest>

#include "AppStateHarness.h"
#include "DevServiceProcess.h"
#include "TcpRelay.h"

using namespace pendrel;
using namespace pendrel::test;

class TestOffline : public QObject {
    Q_OBJECT

    std::unique_ptr<DevServiceProcess> dev;
    std::unique_ptr<TcpRelay> relay;
    std::unique_ptr<AppStateHarness> h;

    void control(const QString &what)
    {
        QCOMPARE(request("POST", dev->origin() + QStringLiteral("/_dev/") + what).status, 200);
    }
    int articles()
    {
        return QJsonDocument::fromJson(request("GET", dev->origin() + QStringLiteral("/_dev/state")).body)
            .object()
            .value(QStringLiteral("articles"))
            .toInt();
    }
    bool allEnded(int count)
    {
        return QTest::qWaitFor(
            [&] {
                const QList<JobRecord> &jobs = h->state->jobs();
                return !h->state->jobQueue().isProcessing()
                       && std::none_of(jobs.begin(), jobs.begin() + std::min<qsizetype>(count, jobs.size()),
                                       [](const JobRecord &j) { return j.isWaiting(); });
            },
            30000);
    }
    int failureNotifications() const
    {
        return int(std::count_if(h->notifications.posted.begin(), h->notifications.posted.end(),
                                 [](const NotificationRequest &n) { return n.title.contains(u"failed"); }));
    }

private slots:
    void initTestCase()
    {
        dev = std::make_unique<DevServiceProcess>();
        QVERIFY2(!dev->origin().isEmpty(), "the service did not start");
        relay = std::make_unique<TcpRelay>(QUrl(dev->origin()).port());
        AppState::setReconnectDelaysMs(200, 800);
        h = std::make_unique<AppStateHarness>();
        qputenv("PENDREL_API_BASE_URL", relay->origin().toUtf8());
        blockingWait(h->state->bootstrap());
        QVERIFY(h->signInAsDemo());
    }
    void cleanupTestCase()
    {
        h.reset();
        relay.reset();
        dev.reset();
    }

    // Started with the network gone: still signed in, told why nothing
    // moves, jobs wait without a word of failure, and all run once the
    // network is back.
    void startedWithoutTheNetwork()
    {
        relay->cut();
        h->create();
        blockingWait(h->state->bootstrap());
        QCOMPARE(h->state->authState().status, AuthStatus::authenticated);
        QVERIFY(h->state->authState().session);
        QVERIFY(h->state->serviceUnreachable());
        QCOMPARE(PanelTexts::headerBadge(*h->state).label, QStringLiteral("Offline"));
        QVERIFY(PanelTexts::headerSubtitle(*h->state).startsWith(u"Offline"));

        const int before = articles();
        const int failuresBefore = failureNotifications();
        for (int i = 0; i < 3; ++i)
            h->sendText(QStringLiteral("Night trains without a network, %1.").arg(i));
        QTest::qWait(1500); // several tries of the service meanwhile
        for (int i = 0; i < 3; ++i) {
            QVERIFY(h->state->jobs().at(i).isWaiting());
            QVERIFY(!h->state->jobs().at(i).error);
        }
        QCOMPARE(failureNotifications(), failuresBefore);

        QVERIFY(relay->restore());
        QVERIFY(allEnded(3));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(h->state->jobs().at(i).status, JobStatus::success);
        QVERIFY(!h->state->serviceUnreachable());
        QCOMPARE(articles(), before + 3);
    }

    // Back online, the service refuses the session (it forgot it while
    // away): signed out as for any refusal, no longer "offline", and the
    // job that waited runs once the user signs in again.
    void sessionRefusedOnReturn()
    {
        relay->cut();
        h->sendText(QStringLiteral("Night trains after a sign-out."));
        const QUuid id = h->state->jobs().first().id;
        QVERIFY(QTest::qWaitFor([&] { return h->state->serviceUnreachable().has_value(); }, 10000));
        control(QStringLiteral("fail?path=/api/tenants&status=401"));
        QVERIFY(relay->restore());
        QVERIFY(QTest::qWaitFor([&] { return h->state->authState().status != AuthStatus::authenticated; }, 10000));
        QVERIFY(!h->state->serviceUnreachable());
        QVERIFY(!PanelTexts::headerSubtitle(*h->state).startsWith(u"Offline"));
        QVERIFY(h->state->job(id)->isWaiting());

        control(QStringLiteral("reset"));
        QVERIFY(h->signInAsDemo());
        QVERIFY(allEnded(1));
        QCOMPARE(h->state->job(id)->status, JobStatus::success);
    }

    // The network goes in the middle of a stage: the job keeps its place
    // and its checkpoints, and finishes once the network is back.
    void lostInTheMiddleOfAJob()
    {
        const int before = articles();
        control(QStringLiteral("latency?ms=1500"));
        h->sendText(QStringLiteral("Night trains cut off halfway."));
        const QUuid id = h->state->jobs().first().id;
        QVERIFY(QTest::qWaitFor([&] { return h->state->job(id)->step == JobStep::transform; }, 15000));
        relay->cut();
        QVERIFY(QTest::qWaitFor([&] { return h->state->serviceUnreachable().has_value(); }, 10000));
        const JobRecord held = *h->state->job(id);
        QCOMPARE(held.status, JobStatus::submitted);
        QVERIFY(!held.processing);
        QVERIFY(held.metadata); // the analysis done before the cut is kept
        QCOMPARE(h->stateFile().jobs.first().status, JobStatus::submitted);

        control(QStringLiteral("latency?ms=0"));
        QVERIFY(relay->restore());
        QVERIFY(allEnded(1));
        QCOMPARE(h->state->job(id)->status, JobStatus::success);
        QCOMPARE(articles(), before + 1);
    }

    // The service stores the article and the answer never arrives: the job
    // says the article may be saved, and Retry saves the same article again
    // instead of publishing a copy.
    void saveAnswerLost()
    {
        const int before = articles();
        // Every try loses its answer (the save goes out once per try).
        control(QStringLiteral("fault?path=/api/blog/save&kind=lost"));
        h->sendText(QStringLiteral("Night trains, saved but unconfirmed."));
        const QUuid id = h->state->jobs().first().id;
        QVERIFY(allEnded(1));
        const JobRecord failed = *h->state->job(id);
        QCOMPARE(failed.status, JobStatus::error);
        QCOMPARE(failed.error->code, std::optional<QString>(kSaveUnconfirmedCode));
        QVERIFY2(failed.error->message.contains(u"may already be saved"), qPrintable(failed.error->message));
        QVERIFY(!h->state->serviceUnreachable());
        QCOMPARE(articles(), before + 1);

        control(QStringLiteral("reset"));
        const qsizetype jobCount = h->state->jobs().size();
        h->state->retryJob(id);
        QVERIFY(allEnded(1));
        QCOMPARE(h->state->jobs().size(), jobCount);
        QCOMPARE(h->state->job(id)->status, JobStatus::success);
        QVERIFY(h->state->job(id)->savedURL);
        QCOMPARE(articles(), before + 1);
    }

    // Offline for longer than the session lasts: the next try finds the
    // session run out before sending anything. The user is signed out
    // visibly, the panel no longer says "Offline", the retries stop, and
    // the job that waited runs once, after the next sign-in.
    void sessionRanOutWhileOffline()
    {
        const int before = articles();
        relay->cut();
        h->sendText(QStringLiteral("Night trains past the session's end."));
        const QUuid id = h->state->jobs().first().id;
        QVERIFY(QTest::qWaitFor([&] { return h->state->serviceUnreachable().has_value(); }, 10000));
        h->letSessionRunOut();
        h->state->reconnectNow();
        QVERIFY(QTest::qWaitFor([&] { return !h->state->authState().session; }, 10000));
        QCOMPARE(h->state->authErrorMessage(), QStringLiteral("Session expired. Please sign in again."));
        QCOMPARE(h->state->authState().status, AuthStatus::unauthenticated);
        QVERIFY(!h->state->serviceUnreachable());
        QVERIFY(!PanelTexts::headerSubtitle(*h->state).startsWith(u"Offline"));
        QVERIFY(!h->state->findChild<QTimer *>(QStringLiteral("reconnectTimer"))->isActive());
        QTest::qWait(1200); // longer than the retry pauses: nothing re-arms them
        QVERIFY(!h->state->findChild<QTimer *>(QStringLiteral("reconnectTimer"))->isActive());
        QVERIFY(h->state->job(id)->isWaiting());
        QVERIFY(!h->state->job(id)->error);
        QCOMPARE(PanelTexts::jobCard(*h->state, *h->state->job(id)).primary,
                 QStringLiteral("Waiting for sign-in"));

        QVERIFY(relay->restore());
        QVERIFY(h->signInAsDemo());
        QVERIFY(allEnded(1));
        QCOMPARE(h->state->job(id)->status, JobStatus::success);
        QCOMPARE(articles(), before + 1);
    }
};

QTEST_GUILESS_MAIN(TestOffline)
#include "tst_offline.moc"
