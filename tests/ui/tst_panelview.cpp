#include "ui/ClipperPanelView.h"
#include "ui/PanelPieces.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "AppStateHarness.h"

using namespace pendrel;
using namespace pendrel::test;

// The panel on the offscreen platform: its controls drive the state, and
// each state is rendered to a PNG a person can look at.
class TestPanelView : public QObject {
    Q_OBJECT

    static void save(QWidget &panel, const char *name)
    {
        const QString folder = QStringLiteral(PENDREL_ARTIFACTS);
        QDir().mkpath(folder);
        panel.resize(AppState::panelWidth, panel.sizeHint().height() > 548 ? 760 : 548);
        QVERIFY(panel.grab().save(folder + u'/' + QString::fromLatin1(name)));
    }

private slots:
    void badgePhase()
    {
        QCOMPARE(HeaderActivityBadge::phase(0.0), 0);
        QCOMPARE(HeaderActivityBadge::phase(0.26), 1);
        QCOMPARE(HeaderActivityBadge::phase(0.5), 2);
        QCOMPARE(HeaderActivityBadge::phase(0.75), 0);
    }

    void signedOut()
    {
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        ClipperPanelView panel(*h.state);
        panel.show();
        auto *email = panel.findChild<QLineEdit *>(QStringLiteral("signInEmail"));
        auto *password = panel.findChild<QLineEdit *>(QStringLiteral("signInPassword"));
        QVERIFY(email && password && email->isVisible());
        QVERIFY(!panel.findChild<QPushButton *>(QStringLiteral("useClipboardButton"))->isVisible());
        QTest::keyClicks(email, QStringLiteral("ann@pendrel.test"));
        QCOMPARE(h.state->signInEmail(), QStringLiteral("ann@pendrel.test"));
        panel.findChild<QPushButton *>(QStringLiteral("signInButton"))->click();
        auto *error = panel.findChild<QLabel *>(QStringLiteral("errorMessage"));
        QCOMPARE(error->text(), QStringLiteral("Enter both email and password."));
        QVERIFY(error->isVisible());
        save(panel, "panel-signed-out.png");
    }

    void signedInWithJobs()
    {
        qputenv("PENDREL_DEBUG_PREVIEW_STATE", "workspace-jobs");
        AppStateHarness h;
        blockingWait(h.state->bootstrap());
        qunsetenv("PENDREL_DEBUG_PREVIEW_STATE");
        ClipperPanelView panel(*h.state);
        panel.show();
        QVERIFY(!panel.findChild<QLineEdit *>(QStringLiteral("signInEmail"))->isVisible());
        QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("balanceMetric"))->text(),
                 QStringLiteral("3804 credits"));
        QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("tenantMetric"))->text(),
                 QStringLiteral("Pendrel Publisher"));
        QCOMPARE(panel.findChild<HeaderActivityBadge *>()->badge().label, QStringLiteral("Writing"));
        QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("statusPill"))->text(), QStringLiteral("Ready"));
        QVERIFY(panel.findChild<QLabel *>(QStringLiteral("pendingClip"))
                    ->text()
                    .startsWith(u"Restored workspace preview"));
        // A queued job in the preview: the main button adds to the queue.
        QCOMPARE(panel.findChild<QPushButton *>(QStringLiteral("sendButton"))->text(),
                 QStringLiteral("Add to queue"));
        auto *url = panel.findChild<QLineEdit *>(QStringLiteral("urlField"));
        QTest::keyClicks(url, QStringLiteral("not a url"));
        panel.findChild<QPushButton *>(QStringLiteral("extractButton"))->click();
        QCOMPARE(h.state->authErrorMessage(), QStringLiteral("Enter a valid URL."));
        QCOMPARE(panel.findChild<QLabel *>(QStringLiteral("errorMessage"))->text(),
                 QStringLiteral("Enter a valid URL."));
        save(panel, "panel-signed-in.png");
    }
};

QTEST_MAIN(TestPanelView)
#include "tst_panelview.moc"
