// Secrets stay secret: the password and the session's tokens never reach
// the state file, a job's log or the program's own log output, and the
// client never talks to a server whose certificate it cannot trust.

#include "api/APIClient.h"
#include "state/AppState.h"

#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTest>

#include "AppStateHarness.h"
#include "TestFiles.h"

#include <mutex>

using namespace pendrel;
using namespace pendrel::test;

namespace {

const QString kPassword = QStringLiteral("Pa55-secret-word-7e21");
const QByteArray kAccessToken = "access-secret-5b0c94";
const QByteArray kRefreshToken = "refresh-secret-1f6ad2";

// Every line the program logs while a test runs.
std::mutex logMutex;
QStringList logged;
QtMessageHandler previousHandler = nullptr;
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        const std::lock_guard lock(logMutex);
        logged.append(message);
    }
    previousHandler(type, context, message);
}

QByteArray signInAnswer()
{
    return "{\"message\":\"Signed in\",\"user\":{\"id\":\"user-1\",\"email\":\"ada@pendrel.test\"},"
           "\"session\":{\"access_token\":\""
           + kAccessToken + "\",\"refresh_token\":\"" + kRefreshToken + "\",\"expires_at\":4000000000}}";
}

QString fixture(const char *name)
{
    return QStringLiteral(PENDREL_TESTS_SOURCE_DIR "/support/tls/") + QLatin1StringView(name);
}

} // namespace

class TestSecrecy : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(recordMessage); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    // Signing in (wrongly, then rightly), a finished article, an article
    // refused with a 401 that signs the user out: none of it writes a secret.
    void secretsAreNeverWritten()
    {
        AppStateHarness h;
        h.answerWorkspace();
        h.answerPipeline();
        blockingWait(h.state->bootstrap());
        h.service.answerOnce("POST", QStringLiteral("/api/auth/signin"),
                             ScriptedAnswer::json(400, "{\"error\":\"Invalid login credentials\"}"));
        h.service.answer("POST", QStringLiteral("/api/auth/signin"), ScriptedAnswer::json(200, signInAnswer()));
        h.state->setSignInEmail(QStringLiteral("ada@pendrel.test"));
        h.state->setSignInPassword(kPassword + u'x');
        h.state->signIn();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 10000));
        QVERIFY(h.state->authErrorMessage());
        h.state->setSignInPassword(kPassword);
        h.state->signIn();
        QVERIFY(QTest::qWaitFor([&] { return !h.state->isSigningIn(); }, 10000));
        QCOMPARE(h.state->authState().status, AuthStatus::authenticated);
        // The token did go out, in the header where it belongs.
        h.sendText(QStringLiteral("Night trains are back."));
        QVERIFY(h.waitUntilIdle(15000));
        QCOMPARE(h.state->jobs().first().status, JobStatus::success);
        QVERIFY(h.service.requestsTo("POST", QStringLiteral("/api/blog/admin/transform"))
                    .first()
                    .header("Authorization")
                    .contains(kAccessToken));

        h.service.answer("POST", QStringLiteral("/api/blog/admin/transform"),
                         ScriptedAnswer::json(401, "{\"error\":\"Invalid token\"}"));
        h.sendText(QStringLiteral("Night trains, again."));
        QVERIFY(h.waitUntilIdle(15000));
        QVERIFY(QTest::qWaitFor([&] { return h.state->authState().status != AuthStatus::authenticated; }, 5000));

        const QByteArray stateFile = readFile(h.state->persistenceStore().currentFilePath());
        QVERIFY(!stateFile.isEmpty());
        QStringList jobLogs;
        for (const JobRecord &job : h.state->jobs()) {
            for (const JobLogEntry &line : job.logs)
                jobLogs.append(line.message);
            if (job.error)
                jobLogs.append(job.error->message);
        }
        QVERIFY(jobLogs.size() > 4);
        const std::lock_guard lock(logMutex);
        for (const QByteArray &secret : {kPassword.toUtf8(), kAccessToken, kRefreshToken}) {
            QVERIFY2(!stateFile.contains(secret), secret.constData());
            QVERIFY2(!jobLogs.join(u'\n').toUtf8().contains(secret), secret.constData());
            QVERIFY2(!logged.join(u'\n').toUtf8().contains(secret), secret.constData());
            QVERIFY2(!h.state->authErrorMessage().value_or(QString()).toUtf8().contains(secret), secret.constData());
        }
    }

    // A server with a certificate nobody vouches for gets no request: the
    // handshake fails, the error says so, and no header ever crosses.
    void untrustedCertificateIsRefused()
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        QFile certificate(fixture("self-signed.crt"));
        QFile key(fixture("self-signed.key"));
        QVERIFY(certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
        tls.setLocalCertificate(QSslCertificate(&certificate));
        tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        QSslServer server;
        server.setSslConfiguration(tls);
        QByteArray received;
        connect(&server, &QSslServer::pendingConnectionAvailable, this, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                connect(socket, &QIODevice::readyRead, this, [&received, socket] { received += socket->readAll(); });
        });
        QVERIFY(server.listen(QHostAddress::LocalHost));

        AppStateHarness h;
        h.storeSession();
        qputenv("PENDREL_API_BASE_URL",
                QByteArrayLiteral("https://127.0.0.1:") + QByteArray::number(server.serverPort()));
        h.create();
        blockingWait(h.state->bootstrap());
        h.sendText(QStringLiteral("Night trains are back."));
        QVERIFY(h.waitUntilIdle(15000));
        const JobRecord job = h.state->jobs().first();
        QCOMPARE(job.status, JobStatus::error);
        QVERIFY2(job.error->message.contains(u"certificate", Qt::CaseInsensitive)
                     || job.error->message.contains(u"SSL", Qt::CaseInsensitive),
                 qPrintable(job.error->message));
        QVERIFY2(!received.contains("Authorization") && !received.contains("Bearer"), received.constData());
    }
};

QTEST_GUILESS_MAIN(TestSecrecy)
#include "tst_secrecy.moc"
