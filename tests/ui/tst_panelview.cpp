#include "model/SupportedContentLanguage.h"
#include "shell/AccessibleTree.h"
#include "shell/PanelWindow.h"
#include "ui/AuthSection.h"
#include "ui/ClipperPanelView.h"
#include "ui/PanelPieces.h"
#include "ui/PanelSections.h"
#include "ui/SettingsSection.h"
#include "ui/SocialCrosspostingSection.h"

#include <QAccessible>
#include <QApplication>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QSignalSpy>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QWindow>

#include "PanelScenes.h"

using namespace pendrel;
using namespace pendrel::test;

namespace {

template <class T = QWidget>
T *child(const QWidget &root, const char *name)
{
    T *found = root.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qWarning("no control named %s", name);
    return found;
}

QString text(const QWidget &root, const char *name)
{
    auto *label = child<QLabel>(root, name);
    return label ? label->text() : QStringLiteral("<missing>");
}

bool shown(const QWidget &root, const char *name)
{
    auto *w = child(root, name);
    return w && w->isVisibleTo(&root);
}

void choose(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// What the widgets tell assistive technology about text changes, as it
// leaves the program (after any handler of the program's own).
struct TextEvent {
    QObject *object;
    QString text; // inserted and removed text together
};
QList<TextEvent> textEvents;
void recordTextEvents(QAccessibleEvent *event)
{
    switch (event->type()) {
    case QAccessible::TextInserted:
        textEvents.append({event->object(), static_cast<QAccessibleTextInsertEvent *>(event)->textInserted()});
        break;
    case QAccessible::TextRemoved:
        textEvents.append({event->object(), static_cast<QAccessibleTextRemoveEvent *>(event)->textRemoved()});
        break;
    case QAccessible::TextUpdated: {
        auto *e = static_cast<QAccessibleTextUpdateEvent *>(event);
        textEvents.append({event->object(), e->textRemoved() + e->textInserted()});
        break;
    }
    case QAccessible::ValueChanged:
        textEvents.append({event->object(), static_cast<QAccessibleValueChangeEvent *>(event)->value().toString()});
        break;
    default:
        break;
    }
}

// Runs a control's accessibility action, as a screen reader or voice
// control does through AT-SPI.
void doAccessibleAction(QWidget *w, const QString &action)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    QVERIFY(iface && iface->actionInterface());
    QVERIFY2(iface->actionInterface()->actionNames().contains(action), qPrintable(w->objectName()));
    iface->actionInterface()->doAction(action);
}

} // namespace

// The panel on the offscreen platform, section by section: what each shows
// for a state, and that its controls write through to the state and the
// state file.
class TestPanelView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // As the program has them, and before any panel exists, so that
        // the panel's own handling sits between the widgets and this record.
        installAccessibleTree();
        QAccessible::installUpdateHandler(recordTextEvents);
    }

    void frameBySignInState()
    {
        ShownScene out = showScene(panelScene("signed-out"));
        QCOMPARE(out.panel->sizeHint(), QSize(440, 548));
        QVERIFY(shown(*out.panel, "headerSection"));
        QVERIFY(shown(*out.panel, "authSection"));
        QVERIFY(!shown(*out.panel, "workspace"));
        QCOMPARE(out.panel->findChild<HeaderActivityBadge *>()->badge().label, QStringLiteral("Secure auth"));
        // Typing goes to the e-mail field as the panel opens.
        QCOMPARE(QApplication::focusWidget(), child(*out.panel, "signInEmail"));

        ShownScene in = showScene(panelScene("workspace"));
        QCOMPARE(in.panel->sizeHint(), QSize(440, 760));
        QVERIFY(!shown(*in.panel, "authSection"));
        const QStringList order{QStringLiteral("tenantSection"),    QStringLiteral("resultSection"),
                                QStringLiteral("quickSendSection"), QStringLiteral("previewSection"),
                                QStringLiteral("settingsSection"),  QStringLiteral("recentJobsSection"),
                                QStringLiteral("sendSection")};
        int lastY = -1;
        for (const QString &name : order) {
            QWidget *section = in.panel->findChild<QWidget *>(name);
            QVERIFY2(section && section->isVisibleTo(in.panel.get()), qPrintable(name));
            QVERIFY2(section->y() > lastY, qPrintable(name));
            lastY = section->y();
        }
        QCOMPARE(text(*in.panel, "tenantMetric"), QStringLiteral("Pendrel Publisher"));
        QCOMPARE(text(*in.panel, "balanceMetric"), QStringLiteral("3804 credits"));
        QCOMPARE(QApplication::focusWidget(), child(*in.panel, "urlField"));

        // Signing out switches the content without a new panel.
        in.harness->state->signOut();
        QTRY_VERIFY(shown(*in.panel, "authSection"));
        QVERIFY(!shown(*in.panel, "workspace"));
        QCOMPARE(in.panel->sizeHint(), QSize(440, 548));
    }

    void previewBodies_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QStringList rest{QStringLiteral("statusSection"), QStringLiteral("resultSection"),
                               QStringLiteral("quickSendSection"), QStringLiteral("previewSection")};
        QTest::newRow("jobs") << "workspace-jobs"
                              << QStringList{QStringLiteral("recentJobsSection"), QStringLiteral("sendSection")}
                              << (rest + QStringList{QStringLiteral("settingsSection")});
        QTest::newRow("settings") << "workspace-settings"
                                  << QStringList{QStringLiteral("settingsSection"), QStringLiteral("sendSection")}
                                  << (rest + QStringList{QStringLiteral("recentJobsSection")});
    }
    void previewBodies()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        ShownScene s = showScene(panelScene(mode.toLatin1().constData()));
        for (const QString &name : present)
            QVERIFY2(s.panel->findChild<QWidget *>(name), qPrintable(name));
        for (const QString &name : absent)
            QVERIFY2(!s.panel->findChild<QWidget *>(name), qPrintable(name));
    }

    void statusSection_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("step"); // -1: none
        QTest::addColumn<QString>("errorMessage");
        QTest::addColumn<QString>("errorCode");
        QTest::addColumn<QString>("pill");
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("secondary"); // empty: hidden
        QTest::addColumn<QString>("buttons");   // visible actions
        const auto S = [](JobStatus s) { return int(s); };
        const auto T = [](JobStep s) { return int(s); };
        QTest::newRow("queued") << S(JobStatus::submitted) << T(JobStep::prepare) << "" << "" << "Queued"
                                << "Ready in queue" << "We\u2019ll start as soon as the current work finishes."
                                << "cancel";
        QTest::newRow("running images")
            << S(JobStatus::running) << T(JobStep::illustrations) << "" << "" << "Working" << "Generating images"
            << "The article is moving through the pipeline now." << "cancel";
        QTest::newRow("running, no step") << S(JobStatus::running) << -1 << "" << "" << "Working"
                                          << "Processing article"
                                          << "The article is moving through the pipeline now." << "cancel";
        QTest::newRow("session gone") << S(JobStatus::error) << T(JobStep::save) << "No active session." << ""
                                      << "Issue" << "Sign in again" << "Stopped during saving." << "retry";
        QTest::newRow("no credits") << S(JobStatus::error) << T(JobStep::transform) << "Out of credits"
                                    << "INSUFFICIENT_CREDITS" << "Issue" << "Out of credits"
                                    << "Stopped during transforming." << "retry topUp";
        QTest::newRow("error without message") << S(JobStatus::error) << T(JobStep::error) << "" << "" << "Issue"
                                               << "Needs attention" << "" << "retry";
        QTest::newRow("aborted") << S(JobStatus::aborted) << T(JobStep::aborted) << "Job aborted" << "ABORTED"
                                 << "Stopped" << "Processing stopped" << "You can retry when you're ready."
                                 << "retry";
    }
    void statusSection()
    {
        QFETCH(int, status);
        QFETCH(int, step);
        QFETCH(QString, errorMessage);
        QFETCH(QString, errorCode);
        ShownScene s = showScene(panelScene("workspace"));
        AppState &state = *s.harness->state;
        JobRecord job = sceneJob(state, JobStatus(status), step < 0 ? std::nullopt : std::optional(JobStep(step)));
        if (!errorMessage.isEmpty() || JobStatus(status) == JobStatus::error)
            job.error = JobErrorInfo{errorMessage, 400, errorCode};
        addLogs(job, {QStringLiteral("first line"), QStringLiteral("second line")});
        state.setJobs({job});
        const QWidget &panel = *s.panel;
        QVERIFY(shown(panel, "statusSection"));
        QTEST(text(panel, "statusPill"), "pill");
        QTEST(text(panel, "statusPrimary"), "primary");
        QFETCH(QString, secondary);
        QCOMPARE(shown(panel, "statusSecondary"), !secondary.isEmpty());
        if (!secondary.isEmpty())
            QCOMPARE(text(panel, "statusSecondary"), secondary);
        QFETCH(QString, buttons);
        const QStringList visible = buttons.split(u' ');
        QCOMPARE(shown(panel, "cancelButton"), visible.contains(u"cancel"));
        QCOMPARE(shown(panel, "retryButton"), visible.contains(u"retry"));
        QCOMPARE(shown(panel, "topUpButton"), visible.contains(u"topUp"));
        // Logs open on request, newest first, without the level.
        QVERIFY(!shown(panel, "statusLogs"));
        child<QAbstractButton>(panel, "logsToggle")->click();
        QVERIFY(shown(panel, "statusLogs"));
        const QStringList lines = text(panel, "statusLogs").split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral(" \u00B7 second line")));
        QVERIFY(lines[1].endsWith(QStringLiteral(" \u00B7 first line")));
    }

    void statusActions()
    {
        ShownScene s = showScene(panelScene("insufficient-credits"));
        AppState &state = *s.harness->state;
        const QUuid failed = state.jobs().first().id;
        child<QPushButton>(*s.panel, "topUpButton")->click();
        QTRY_COMPARE(s.harness->opener.opened.size(), 1);
        QCOMPARE(s.harness->opener.opened.first().path(), QStringLiteral("/dashboard/billing"));
        QCOMPARE(s.harness->opener.opened.first().host(), s.harness->service.baseUrl().host());
        child<QPushButton>(*s.panel, "retryButton")->click();
        QCOMPARE(state.jobs().size(), 2);
        QVERIFY(state.jobs().first().id != failed);
        QCOMPARE(state.jobs().first().clip, state.jobs().last().clip);
        // The new job is waiting now: the section follows it with "Cancel".
        QVERIFY(shown(*s.panel, "cancelButton"));
        child<QPushButton>(*s.panel, "cancelButton")->click();
        QVERIFY(state.jobs().first().aborted);
    }

    void resultSection()
    {
        ShownScene s = showScene(panelScene("workspace"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        QVERIFY(shown(panel, "resultSection"));
        QCOMPARE(text(panel, "resultTitle"), QStringLiteral("Restored workspace preview"));
        QVERIFY(!shown(panel, "crosspostSummary"));

        JobRecord done = state.jobs().first();
        done.title.reset();
        done.result->title.clear();
        for (const JobSocialPublishStatus status :
             {JobSocialPublishStatus::success, JobSocialPublishStatus::success, JobSocialPublishStatus::skipped}) {
            JobSocialPublishResult result;
            result.status = status;
            done.socialPublishes.append(result);
        }
        state.setJobs({done});
        QCOMPARE(text(panel, "resultTitle"), QStringLiteral("Article ready"));
        QCOMPARE(text(panel, "crosspostSummary"), QStringLiteral("Crossposting: Posted 2 \u00B7 Skipped 1"));
        QCOMPARE(child<URLChip>(panel, "resultURL")->url(), *done.result->url);

        child<QPushButton>(panel, "openArticleButton")->click();
        QTRY_COMPARE(s.harness->opener.opened.size(), 1);
        QCOMPARE(s.harness->opener.opened.first().toString(), *done.result->url);
        QVERIFY(state.jobs().first().acknowledged);
        child<QPushButton>(panel, "dashboardButton")->click();
        QTRY_COMPARE(s.harness->opener.opened.size(), 2);
        QCOMPARE(s.harness->opener.opened.last().path(), QStringLiteral("/dashboard/blog"));

        // A newer job at work hides the older result.
        JobRecord running = sceneJob(state, JobStatus::running, JobStep::analyze);
        state.setJobs({running, done});
        QVERIFY(!shown(panel, "resultSection"));
        QVERIFY(shown(panel, "statusSection"));
    }

    void quickSendPreviewAndSend()
    {
        ShownScene s = showScene(panelScene("workspace"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        QCOMPARE(text(panel, "previewKind"), QStringLiteral("URL"));
        QVERIFY(shown(panel, "previewURL"));

        s.harness->clipboard.text = QString(500, u'a');
        ClipperSettings settings = state.settings();
        settings.autoSend = false;
        state.setSettings(settings);
        child<QPushButton>(panel, "useClipboardButton")->click();
        QCOMPARE(text(panel, "previewKind"), QStringLiteral("Clipboard"));
        QCOMPARE(text(panel, "previewBody"), QString(220, u'a') + u'\u2026');
        QVERIFY(!shown(panel, "previewURL"));
        QVERIFY(text(panel, "estimatedCost").endsWith(QStringLiteral(" credits")));
        QVERIFY(text(panel, "costBreakdown").contains(QStringLiteral(" +")));

        // One running and one queued job: the button adds to the queue.
        JobRecord running = sceneJob(state, JobStatus::running, JobStep::transform);
        JobRecord queued = sceneJob(state, JobStatus::submitted, JobStep::prepare);
        state.setJobs({running, queued});
        QCOMPARE(text(panel, "queueLine"), QStringLiteral("Processing: 1 \u00B7 Queued: 1"));
        QCOMPARE(child<QPushButton>(panel, "sendButton")->text(), QStringLiteral("Add to queue"));
        QCOMPARE(panel.findChild<HeaderActivityBadge *>()->badge().label, QStringLiteral("Writing"));

        // A bad address says why next to the field.
        auto *url = child<QLineEdit>(panel, "urlField");
        url->clear();
        QTest::keyClicks(url, QStringLiteral("not a url"));
        QCOMPARE(state.urlInput(), QStringLiteral("not a url"));
        QTest::keyClick(url, Qt::Key_Return);
        QCOMPARE(text(panel, "captureError"), QStringLiteral("Enter a valid URL."));
        QVERIFY(shown(panel, "captureError"));
        // An overlong paste reaches the state whole, to be refused with a reason.
        const QString overlong = QStringLiteral("https://example.org/") + QString(40'000, u'a');
        url->setText(overlong);
        QCOMPARE(state.urlInput(), overlong);
        state.setUrlInput(QStringLiteral("https://example.org/a"));
        QCOMPARE(url->text(), QStringLiteral("https://example.org/a"));
        child<QPushButton>(panel, "extractButton")->click();
        QCOMPARE(state.pendingClip()->url, QStringLiteral("https://example.org/a"));
        QVERIFY(!shown(panel, "captureError"));
    }

    void recentJobs()
    {
        ShownScene s = showScene(panelScene("workspace-jobs"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        auto *toggle = child<QAbstractButton>(panel, "recentJobsToggle");
        QVERIFY(toggle->isChecked());
        QWidget *rows[3] = {child(panel, "recentJob0"), child(panel, "recentJob1"), child(panel, "recentJob2")};
        QVERIFY(rows[0]->isVisibleTo(&panel) && rows[2]->isVisibleTo(&panel));
        QVERIFY(!shown(panel, "recentJob3"));
        const auto rowText = [](QWidget *row, const char *name) { return text(*row, name); };
        QCOMPARE(rowText(rows[0], "recentJobPill"), QStringLiteral("Ready"));
        QCOMPARE(rowText(rows[1], "recentJobSubtitle"), QStringLiteral("Nothing to process"));
        QCOMPARE(rowText(rows[2], "recentJobSubtitle"), QStringLiteral("Preparing"));
        QVERIFY(shown(*rows[0], "recentJobOpen") && !shown(*rows[0], "recentJobRetry"));
        QVERIFY(!shown(*rows[1], "recentJobOpen") && shown(*rows[1], "recentJobRetry"));

        const QUuid failed = state.jobs()[1].id;
        child<QPushButton>(*rows[1], "recentJobRetry")->click();
        QCOMPARE(state.jobs().size(), 4);
        QCOMPARE(state.jobs().first().clip, state.job(failed)->clip);
        child<QPushButton>(*rows[1], "recentJobOpen")->click(); // the success moved down one row
        QTRY_COMPARE(s.harness->opener.opened.size(), 1);

        toggle->click();
        QVERIFY(!state.isShowingRecentJobs());
        QVERIFY(!shown(panel, "recentJob0"));
        state.setJobs({});
        state.setIsShowingRecentJobs(true);
        QVERIFY(toggle->isChecked());
        QVERIFY(shown(panel, "noHistory"));
        QVERIFY(!shown(panel, "recentJob0"));
    }

    void settingsBindings_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("choice"); // entry index, -1 to click, -2 the accessibility action "Toggle"
        QTest::addColumn<QString>("key"); // what changed, as the check below reads it
        QTest::addColumn<QString>("value");
        QTest::newRow("size") << "articleSizePicker" << 3 << "articleSize" << "pillar";
        QTest::newRow("seo") << "seoStandardPicker" << 1 << "seoStandardMode" << "e-e-a-t";
        QTest::newRow("humanize off") << "humanizeToggle" << -1 << "enableHumanize" << "false";
        QTest::newRow("audio on") << "audioToggle" << -1 << "enableAudio" << "true";
        QTest::newRow("competition on") << "competitionToggle" << -1 << "enableCompetition" << "true";
        QTest::newRow("auto-send off") << "autoSendToggle" << -1 << "autoSend" << "false";
        QTest::newRow("humanize off, by a reader") << "humanizeToggle" << -2 << "enableHumanize" << "false";
        QTest::newRow("competition on, by a reader") << "competitionToggle" << -2 << "enableCompetition" << "true";
        QTest::newRow("auto-send off, by a reader") << "autoSendToggle" << -2 << "autoSend" << "false";
        QTest::newRow("images auto") << "imagesCountPicker" << 0 << "imagesCount" << "0";
        QTest::newRow("images 3") << "imagesCountPicker" << 3 << "imagesCount" << "3";
        QTest::newRow("preset") << "linksPresetPicker" << 2 << "linksPresetID" << "preset-blog";
        QTest::newRow("preset none") << "linksPresetPicker" << 0 << "linksPresetID" << "";
        QTest::newRow("author") << "authorPicker" << 1 << "author" << "author-ada/Ada Lovelace";
        // Kept by the shell beside the icon style, never in the settings.
        QTest::newRow("appearance dark") << "appearancePicker" << 2 << "appearance" << "dark";
        QTest::newRow("appearance light") << "appearancePicker" << 1 << "appearance" << "light";
        QTest::newRow("appearance automatic") << "appearancePicker" << 0 << "appearance" << "automatic";
    }
    void settingsBindings()
    {
        QFETCH(QString, control);
        QFETCH(int, choice);
        QFETCH(QString, key);
        QFETCH(QString, value);
        ShownScene s = showScene(panelScene("workspace-settings"));
        AppState &state = *s.harness->state;
        QWidget *w = s.panel->findChild<QWidget *>(control);
        QVERIFY(w);
        QStringList appearances;
        connect(s.panel.get(), &ClipperPanelView::appearanceChosen, this,
                [&](PanelAppearance a) { appearances << appearanceName(a); });
        if (key == u"appearance") {
            // Shown as the shell says, then changed by the user.
            s.panel->setAppearanceChoice(choice == 2 ? PanelAppearance::light : PanelAppearance::dark);
            QCOMPARE(static_cast<QComboBox *>(w)->currentIndex(), choice == 2 ? 1 : 2);
        }
        const ClipperSettings before = state.settings();
        if (choice == -2)
            doAccessibleAction(w, QAccessibleActionInterface::toggleAction());
        else if (choice < 0)
            static_cast<QAbstractButton *>(w)->click();
        else
            choose(static_cast<QComboBox *>(w), choice);
        if (key == u"appearance") {
            QCOMPARE(appearances, QStringList{value});
            QCOMPARE(state.settings(), before);
            return;
        }
        QVERIFY(appearances.isEmpty());
        const auto read = [&](const ClipperSettings &c) -> QString {
            if (key == u"articleSize")
                return enumString(c.articleSize);
            if (key == u"seoStandardMode")
                return enumString(c.seoStandardMode);
            if (key == u"imagesCount")
                return QString::number(c.imagesCount);
            if (key == u"linksPresetID")
                return c.linksPresetID;
            if (key == u"author")
                return c.authorID + u'/' + c.authorName;
            const bool flag = key == u"enableHumanize" ? c.enableHumanize
                              : key == u"enableAudio"  ? c.enableAudio
                              : key == u"autoSend"     ? c.autoSend
                                                       : c.enableCompetition;
            return flag ? QStringLiteral("true") : QStringLiteral("false");
        };
        QCOMPARE(read(state.settings()), value);
        QCOMPARE(read(s.harness->stateFile().settings), value);
    }

    void competitionInspector()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        QVERIFY(!shown(panel, "competitionInspector"));
        child<QAbstractButton>(panel, "competitionToggle")->click();
        QVERIFY(shown(panel, "competitionInspector"));
        child<QAbstractButton>(panel, "gapAnalysisToggle")->click();
        child<QAbstractButton>(panel, "serpFeaturesToggle")->click();
        QTest::keyClicks(child<QLineEdit>(panel, "targetDomain"), QStringLiteral(" Rival.example "));
        child<QAbstractButton>(panel, "competitionToggle")->click();
        QVERIFY(!shown(panel, "competitionInspector"));
        // Hidden options keep their values, in the state and on disk.
        const ClipperSettings stored = s.harness->stateFile().settings;
        for (const ClipperSettings &c : {state.settings(), stored}) {
            QVERIFY(!c.enableCompetition);
            QVERIFY(c.competitionOptions.gapAnalysis && c.competitionOptions.serpFeatures);
            QVERIFY(!c.competitionOptions.winningTitles);
            QCOMPARE(c.targetDomain, QStringLiteral(" Rival.example "));
        }
    }

    void settingsRules()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        auto *count = child<QComboBox>(panel, "imagesCountPicker");
        ClipperSettings settings = state.settings();
        settings.enableImages = false;
        settings.imagesCount = 4;
        settings.linksPresetID = QStringLiteral("preset-gone");
        settings.authorID = QStringLiteral("author-grace");
        settings.authorName = QStringLiteral("Grace Hopper");
        settings.language = QStringLiteral("xx");
        state.setSettings(settings);
        QVERIFY(count->isVisibleTo(&panel) && !count->isEnabled());
        child<QAbstractButton>(panel, "imagesToggle")->click();
        QVERIFY(count->isEnabled());
        QCOMPARE(state.settings().imagesCount, 4);
        QCOMPARE(count->currentText(), QStringLiteral("4"));
        settings = state.settings();
        settings.imagesCount = 9;
        state.setSettings(settings);
        QCOMPARE(count->currentIndex(), -1);

        // An id the workspace does not offer selects nothing and stays.
        QCOMPARE(child<QComboBox>(panel, "linksPresetPicker")->currentIndex(), -1);
        QCOMPARE(state.settings().linksPresetID, QStringLiteral("preset-gone"));
        auto *author = child<QComboBox>(panel, "authorPicker");
        QCOMPARE(author->currentText(), QStringLiteral("Grace Hopper"));
        choose(author, 0);
        QCOMPARE(state.settings().authorID, QString());
        QCOMPARE(state.settings().authorName, QString());

        // A code outside the table: a globe and the code in capitals; the
        // menu still offers every language and picking one stores its code.
        auto *language = child<LanguageMenuField>(panel, "languageMenu");
        QVERIFY(language->text().startsWith(QStringLiteral("\U0001F310 XX")));
        LanguageSummaryChip chip;
        chip.setCode(QStringLiteral("xx"));
        QCOMPARE(chip.text(), QStringLiteral("\U0001F310 XX"));
        chip.setCode(QStringLiteral("de"));
        QCOMPARE(chip.text(), QStringLiteral("\U0001F1E9\U0001F1EA German"));
        QList<QAction *> languages;
        for (QAction *a : language->languageMenu()->actions()) {
            if (!a->isSeparator())
                languages << a;
        }
        QCOMPARE(languages.size(), SupportedContentLanguage::all().size());
        for (QAction *a : language->languageMenu()->actions()) {
            if (a->data().toString() == u"de")
                a->trigger();
        }
        QCOMPARE(state.settings().language, QStringLiteral("de"));
        QVERIFY(language->text().contains(QStringLiteral("German")));
    }

    void appGroup()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        auto *update = child<QPushButton>(panel, "updateButton");
        // A development build says why it offers no updates.
        QCOMPARE(text(panel, "updateRestriction"), AppUpdateState::productionOnlyMessage);
        AppUpdateState failing = state.appUpdateState();
        failing.status = AppUpdateStatus::error;
        failing.canCheckForUpdates = true;
        failing.errorMessage = QStringLiteral("The feed could not be read.");
        state.setAppUpdateState(failing);
        QCOMPARE(text(panel, "updateSummary"), failing.statusSummary());
        QCOMPARE(child(panel, "updateSummary")->property("role").toString(), QStringLiteral("error"));
        QCOMPARE(update->text(), failing.actionTitle());
        QVERIFY(update->isEnabled());
        int checks = 0;
        state.onCheckForUpdatesRequested = [&] { ++checks; };
        update->click();
        QCOMPARE(checks, 1);
        failing.canCheckForUpdates = false;
        state.setAppUpdateState(failing);
        QVERIFY(!update->isEnabled());

        // Launch at login goes through the state; a development build
        // refuses and the switch shows what the state says, with the reason.
        auto *launch = child<QAbstractButton>(panel, "launchAtLoginToggle");
        launch->click();
        QVERIFY(!state.launchAtLoginEnabled());
        QVERIFY(!launch->isChecked());
        QVERIFY(shown(panel, "launchAtLoginHelper"));
        QCOMPARE(text(panel, "launchAtLoginHelper"), *state.launchAtLoginHelperText());
        // The same through a screen reader's "Toggle": not shown on when it is not.
        doAccessibleAction(launch, QAccessibleActionInterface::toggleAction());
        QVERIFY(!state.launchAtLoginEnabled());
        QVERIFY(!launch->isChecked());

        int quits = 0;
        panel.findChild<SettingsSection *>()->onQuit = [&] { ++quits; };
        child<QPushButton>(panel, "quitButton")->click();
        QCOMPARE(quits, 1);
        QVERIFY(shown(panel, "signOutButton"));
        child<QPushButton>(panel, "signOutButton")->click();
        QTRY_COMPARE(state.authState().status, AuthStatus::unauthenticated);
        QVERIFY(!child(panel, "signOutButton")->isVisibleTo(&panel));
    }

    // Offered only where the desktop wants it; the button adds, then
    // removes, and a refusal is said in the row.
    // With the keyboard alone: every Tab stop is a control (no scroll area
    // without a visible focus), Return presses the focused button as Space
    // does, and signing out leaves the focus in the e-mail field.
    void keyboardOnly()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        ClipperPanelView &panel = *s.panel;
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        for (QWidget *w = panel.nextInFocusChain(); w != &panel; w = w->nextInFocusChain()) {
            if (panel.isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus))
                QVERIFY2(!qobject_cast<QAbstractScrollArea *>(w), qPrintable(w->objectName()));
        }
        auto *signOut = child<QPushButton>(panel, "signOutButton");
        signOut->setFocus();
        QSignalSpy pressed(signOut, &QPushButton::clicked);
        QTest::keyClick(signOut, Qt::Key_Return);
        QVERIFY(pressed.wait(1000));
        QVERIFY(QTest::qWaitFor([&] { return s.harness->state->authState().status != AuthStatus::authenticated; }, 5000));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(child<QLineEdit>(panel, "signInEmail")));

        // Signed in from the form: the address field takes what is typed next.
        ShownScene out = showScene(panelScene("signed-out"));
        out.harness->answerWorkspace();
        out.harness->service.answer(
            "POST", QStringLiteral("/api/auth/signin"),
            ScriptedAnswer::json(200, q("{'message':'ok','user':{'id':'u-1','email':'ann@pendrel.test'},"
                                        "'session':{'access_token':'at','refresh_token':'rt','expires_at':4000000000}}")));
        out.panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(out.panel.get()));
        QTest::keyClicks(child<QLineEdit>(*out.panel, "signInEmail"), QStringLiteral("ann@pendrel.test"));
        QTest::keyClicks(child<QLineEdit>(*out.panel, "signInPassword"), QStringLiteral("secret"));
        auto *signIn = child<QPushButton>(*out.panel, "signInButton");
        signIn->setFocus();
        QTest::keyClick(signIn, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), child(*out.panel, "urlField"), 5000);
    }

    // Tab goes down the panel, across each row, through every control shown,
    // and comes round; content taller than the panel shows its scroll bar.
    void tabOrderAndOverflow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("overflows");
        QTest::newRow("signed out") << QStringLiteral("signed-out") << true;
        QTest::newRow("sign-in error") << QStringLiteral("sign-in-error") << true;
        QTest::newRow("workspace") << QStringLiteral("workspace") << true;
        QTest::newRow("crossposting") << QStringLiteral("settings-crossposting") << true;
    }
    void tabOrderAndOverflow()
    {
        QFETCH(QString, name);
        QFETCH(bool, overflows);
        ShownScene s = showScene(panelScene(qPrintable(name)));
        ClipperPanelView &panel = *s.panel;
        // The social accounts arrive after the panel is made, as they do
        // from the service: their rows are the newest controls.
        AppState &state = *s.harness->state;
        const AuxData accounts = state.auxData();
        AuxData none = accounts;
        none.socialAccounts.clear();
        state.setAuxData(none);
        state.setAuxData(accounts);
        QCoreApplication::processEvents();
        panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&panel));
        QCOMPARE(panel.scrollArea()->verticalScrollBar()->isVisible(), overflows);

        int stops = 0;
        for (QWidget *w : panel.findChildren<QWidget *>())
            stops += (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&panel) && w->isEnabled() && !w->focusProxy();
        QWidget *first = QApplication::focusWidget();
        QVERIFY(first);
        const auto at = [&](QWidget *w) { return QRect(w->mapTo(&panel, QPoint(0, 0)), w->size()); };
        QList<QWidget *> seen{first};
        int roundTrips = 0;
        for (;;) {
            QWidget *before = QApplication::focusWidget();
            QTest::keyClick(before, Qt::Key_Tab);
            QWidget *now = QApplication::focusWidget();
            QVERIFY2(now && panel.isAncestorOf(now), qPrintable(before->objectName()));
            if (now == first)
                break;
            QVERIFY2(!seen.contains(now), qPrintable(now->objectName()));
            // Never back up (the next stop ending above where the previous
            // one starts) except once, coming round from the bottom.
            if (at(now).bottom() < at(before).top())
                QVERIFY2(++roundTrips == 1, qPrintable(before->objectName() + QStringLiteral(" then ") + now->objectName()));
            seen.append(now);
            // In sight as it gets the focus.
            QVERIFY2(panel.scrollArea()->viewport()->rect().intersects(
                         QRect(now->mapTo(panel.scrollArea()->viewport(), QPoint(0, 0)), now->size())),
                     qPrintable(now->objectName()));
            QVERIFY2(seen.size() <= stops, "Tab does not come round");
        }
        QCOMPARE(seen.size(), stops);
    }

    // Elsewhere the row says where the shortcut stands, with no button.
    void shortcutStatus()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        const QWidget &panel = *s.panel;
        QVERIFY(!shown(panel, "shortcutSetupRow"));
        const QString status = QStringLiteral("Super+Shift+S is not available on this desktop.");
        s.harness->state->setShortcutStatus(status);
        QVERIFY(shown(panel, "shortcutSetupRow"));
        QCOMPARE(text(panel, "shortcutSetupSummary"), status);
        QVERIFY(!shown(panel, "shortcutSetupButton"));
        // Where GNOME's setup applies, it takes the row.
        ShownScene gnome = showScene(panelScene("settings-gnome-shortcut"));
        gnome.harness->state->setShortcutStatus(status);
        QVERIFY(shown(*gnome.panel, "shortcutSetupButton"));
        QCOMPARE(text(*gnome.panel, "shortcutSetupSummary"),
                 PanelTexts::shortcutSetupLine(false, gnome.harness->shortcutSetup.others));
    }

    void gnomeShortcutSetup()
    {
        QVERIFY(!shown(*showScene(panelScene("workspace-settings")).panel, "shortcutSetupRow"));
        ShownScene s = showScene(panelScene("settings-gnome-shortcut"));
        FakeShortcutSetup &gnome = s.harness->shortcutSetup;
        const QWidget &panel = *s.panel;
        QVERIFY(shown(panel, "shortcutSetupRow"));
        QCOMPARE(text(panel, "shortcutSetupSummary"), PanelTexts::shortcutSetupLine(false, gnome.others));
        QVERIFY(text(panel, "shortcutSetupSummary").contains(QStringLiteral("Take a screenshot interactively")));
        auto *button = child<QPushButton>(panel, "shortcutSetupButton");
        QCOMPARE(button->text(), QStringLiteral("Set Up"));
        button->click();
        QVERIFY(gnome.added);
        QCOMPARE(button->text(), QStringLiteral("Remove"));
        QCOMPARE(text(panel, "shortcutSetupSummary"), PanelTexts::shortcutSetupLine(true, gnome.others));
        gnome.refusal = QStringLiteral("GNOME's keyboard settings cannot be changed here.");
        button->click();
        QVERIFY(gnome.added);
        QCOMPARE(text(panel, "shortcutSetupSummary"), *gnome.refusal);
        QCOMPARE(child(panel, "shortcutSetupSummary")->property("role").toString(), QStringLiteral("error"));
        gnome.refusal.reset();
        button->click();
        QVERIFY(!gnome.added);
        QCOMPARE(button->text(), QStringLiteral("Set Up"));
    }

    // The keys button records the next chord from the keyboard alone:
    // a chord without Ctrl, Alt or Super is refused and it keeps listening,
    // Escape cancels, Backspace and Reset give back the default; each
    // choice reaches the state and is said to screen readers.
    void shortcutKeysRecorder()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        AppState &state = *s.harness->state;
        state.setShortcutStatus(QStringLiteral("Super+Shift+S is taken by another program; choose other keys."));
        const QWidget &panel = *s.panel;
        auto *keys = child<QPushButton>(panel, "shortcutKeysButton");
        auto *announcer = child(panel, "shortcutSetupRow")->findChild<PanelAnnouncer *>();
        QVERIFY(announcer);
        QSignalSpy said(announcer, &PanelAnnouncer::announced);
        QCOMPARE(keys->text(), QStringLiteral("Super+Shift+S"));
        QCOMPARE(keys->accessibleName(), QStringLiteral("Keyboard shortcut: Super+Shift+S"));
        QVERIFY(keys->accessibleDescription().contains(u"Escape cancels, Backspace restores Super+Shift+S"));
        QVERIFY(!shown(panel, "shortcutKeysReset"));

        keys->setFocus();
        QTest::keyClick(keys, Qt::Key_Space); // pressed from the keyboard
        QCOMPARE(keys->text(), QStringLiteral("Press keys\u2026"));
        QTest::keyClick(keys, Qt::Key_P, Qt::ShiftModifier);
        QCOMPARE(keys->text(), QStringLiteral("Press keys\u2026"));
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.last().first().toString(), PanelTexts::shortcutKeysRefused());
        QTest::keyClick(keys, Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(state.shortcutKeys(), *ShortcutKeys::fromText(u"Ctrl+Alt+P"));
        QCOMPARE(keys->text(), QStringLiteral("Ctrl+Alt+P"));
        QCOMPARE(keys->accessibleName(), QStringLiteral("Keyboard shortcut: Ctrl+Alt+P"));
        QCOMPARE(said.last().first().toString(), QStringLiteral("Keyboard shortcut set to Ctrl+Alt+P."));
        QVERIFY(shown(panel, "shortcutKeysReset"));

        QTest::keyClick(keys, Qt::Key_Space);
        QTest::keyClick(keys, Qt::Key_Escape);
        QCOMPARE(keys->text(), QStringLiteral("Ctrl+Alt+P"));
        QCOMPARE(state.shortcutKeys(), *ShortcutKeys::fromText(u"Ctrl+Alt+P"));
        QTest::keyClick(keys, Qt::Key_Space);
        QTest::keyClick(keys, Qt::Key_Backspace);
        QCOMPARE(state.shortcutKeys(), ShortcutKeys());
        QVERIFY(!shown(panel, "shortcutKeysReset"));

        state.setShortcutKeys(*ShortcutKeys::fromText(u"Super+F9"));
        child<QPushButton>(panel, "shortcutKeysReset")->click();
        QCOMPARE(state.shortcutKeys(), ShortcutKeys());
        QCOMPARE(said.last().first().toString(), QStringLiteral("Keyboard shortcut set to Super+Shift+S."));

        // GNOME: the line names the chosen keys; while another binding holds
        // them the row offers no Set Up, only other keys.
        ShownScene gnome = showScene(panelScene("settings-gnome-shortcut"));
        FakeShortcutSetup &setup = gnome.harness->shortcutSetup;
        gnome.harness->state->setShortcutKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+P"));
        QCOMPARE(text(*gnome.panel, "shortcutSetupSummary"),
                 QStringLiteral("Ctrl+Alt+P is already \u201CTake a screenshot interactively\u201D (GNOME Shell). "
                                "Choose other keys, or change that in Settings \u203A Keyboard first."));
        setup.blocks = true;
        gnome.harness->state->setShortcutStatus(QStringLiteral("blocked"));
        QVERIFY(!shown(*gnome.panel, "shortcutSetupButton"));
        QVERIFY(shown(*gnome.panel, "shortcutKeysButton"));
    }

    void crosspostingRows()
    {
        ShownScene s = showScene(panelScene("workspace-settings"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        QVERIFY(!shown(panel, "manageSocialButton"));
        QVERIFY(shown(panel, "crosspostFootnote"));
        QWidget *reddit = child(panel, "socialAccount-preview-reddit");
        QWidget *shop = child(panel, "socialAccount-preview-shopify");
        QVERIFY(reddit && shop);
        QVERIFY(child<QAbstractButton>(*shop, "crosspostToggle")->isEnabled());
        QVERIFY(shown(*shop, "articleCapsule") && !shop->findChild<QComboBox *>());
        child<QAbstractButton>(*shop, "crosspostToggle")->click();
        QVERIFY(state.socialCrosspostPreference(state.auxData().socialAccounts[2]).enabled);
        // The mode picker of another account edits its preference.
        QWidget *linkedin = child(panel, "socialAccount-preview-linkedin");
        choose(child<QComboBox>(*linkedin, "crosspostMode"), 1);
        QCOMPARE(state.socialCrosspostPreference(state.auxData().socialAccounts[0]).mode,
                 SocialCrosspostMode::direct);
        QCOMPARE(s.harness->stateFile().settings.socialCrosspostPreferences, state.settings().socialCrosspostPreferences);

        // A Reddit account without its subreddit says why it cannot be used.
        AuxData aux = state.auxData();
        aux.socialAccounts[1].metadata->defaultSubreddit.reset();
        state.setAuxData(aux);
        reddit = child(panel, "socialAccount-preview-reddit");
        QCOMPARE(text(*reddit, "accountSubtitle"), QStringLiteral("Default subreddit required"));
        QCOMPARE(text(*reddit, "unavailableReason"), QStringLiteral("Choose a default subreddit on Pendrelweb first."));
        QVERIFY(!child<QAbstractButton>(*reddit, "crosspostToggle")->isEnabled());
        QVERIFY(!child<QComboBox>(*reddit, "crosspostMode")->isEnabled());

        // No accounts: only the way to connect some.
        aux.socialAccounts.clear();
        state.setAuxData(aux);
        QVERIFY(shown(panel, "manageSocialButton"));
        QVERIFY(!shown(panel, "crosspostFootnote"));
        child<QPushButton>(panel, "manageSocialButton")->click();
        QTRY_COMPARE(s.harness->opener.opened.size(), 1);
        QCOMPARE(s.harness->opener.opened.first().path(), QStringLiteral("/dashboard/settings"));
    }

    void signInView()
    {
        ShownScene s = showScene(panelScene("signed-out"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        const QList<const char *> controls{"signInButton",      "createAccountButton", "browserSignInButton",
                                           "appleSignInButton", "provider-google",     "provider-github",
                                           "provider-linkedin_oidc", "provider-facebook"};
        const auto enabledControls = [&] {
            int n = 0;
            for (const char *name : controls)
                n += child(panel, name)->isEnabled() ? 1 : 0;
            return n;
        };
        QCOMPARE(enabledControls(), controls.size());
        for (const char *name : {"provider-google", "provider-github", "appleSignInButton"})
            QCOMPARE(child(panel, name)->height(), AuthTileButton::tileHeight);
        for (const auto *tile : panel.findChildren<NativeProviderButton *>())
            QVERIFY2(tile->hasMark(), qPrintable(tile->objectName()));

        QTest::keyClicks(child<QLineEdit>(panel, "signInEmail"), QStringLiteral("ann@pendrel.test"));
        QTest::keyClicks(child<QLineEdit>(panel, "signInPassword"), QStringLiteral("secret"));
        QCOMPARE(state.signInEmail(), QStringLiteral("ann@pendrel.test"));
        QCOMPARE(state.signInPassword(), QStringLiteral("secret"));

        // E-mail sign-in running: a progress indicator instead of the button,
        // every other way in disabled.
        state.setIsSigningIn(true);
        QVERIFY(!shown(panel, "signInButton"));
        QVERIFY(shown(panel, "signInProgress"));
        QCOMPARE(enabledControls(), 0);
        QCOMPARE(panel.findChild<HeaderActivityBadge *>()->badge().label, QStringLiteral("Signing in"));
        state.setIsSigningIn(false);

        // Browser sign-in running: the progress line with its status text.
        state.setIsBrowserAuthInProgress(true);
        state.setBrowserAuthStatusMessage(QStringLiteral("Continue with GitHub"));
        QVERIFY(shown(panel, "browserAuthProgress"));
        QCOMPARE(text(panel, "browserAuthStatus"), QStringLiteral("Continue with GitHub"));
        QCOMPARE(text(panel, "headerSubtitle"), QStringLiteral("Continue with GitHub"));
        QCOMPARE(enabledControls(), 0);
        state.setIsBrowserAuthInProgress(false);
        state.setBrowserAuthStatusMessage(std::nullopt);
        QVERIFY(!shown(panel, "browserAuthProgress"));

        // A failed sign-in keeps what was typed and says why.
        state.setAuthErrorMessage(QStringLiteral("Invalid email or password."));
        QVERIFY(shown(panel, "authError"));
        QCOMPARE(text(panel, "authError"), QStringLiteral("Invalid email or password."));
        QCOMPARE(child<QLineEdit>(panel, "signInEmail")->text(), QStringLiteral("ann@pendrel.test"));
        QCOMPARE(child<QLineEdit>(panel, "signInPassword")->text(), QStringLiteral("secret"));
    }

    // Each way in starts its own sign-in; the request that reaches the
    // service tells them apart.
    void signInControls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        const QString browser = QStringLiteral("/api/auth/native/session");
        QTest::newRow("e-mail")
            << "signInButton"
            << "Sign in to Pendrel"
            << "/api/auth/signin"
            << q("{'email':'ann@pendrel.test','password':'secret','method':'macos_menu_bar'}");
        QTest::newRow("create account") << "createAccountButton"
                                        << "Create account" << browser << q("{'mode':'signup'}");
        QTest::newRow("Pendrelweb") << "browserSignInButton"
                                    << "Sign in on Pendrelweb" << browser << q("{'mode':'signin'}");
        QTest::newRow("Apple") << "appleSignInButton"
                               << "Sign in with Apple" << browser
                               << q("{'mode':'signin','provider':'apple'}");
        const std::pair<const char *, const char *> providers[]{{"google", "Google"},
                                                                {"github", "GitHub"},
                                                                {"linkedin_oidc", "LinkedIn"},
                                                                {"facebook", "Facebook"}};
        for (const auto &[provider, name] : providers)
            QTest::newRow(provider) << QStringLiteral("provider-") + QLatin1StringView(provider) << name
                                    << browser
                                    << ("{\"mode\":\"signin\",\"provider\":\"" + QByteArray(provider)
                                        + "\"}");
    }
    void signInControls()
    {
        QFETCH(QString, control);
        QFETCH(QString, label);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        ShownScene s = showScene(panelScene("signed-out"));
        AppState &state = *s.harness->state;
        state.setSignInEmail(QStringLiteral("ann@pendrel.test"));
        state.setSignInPassword(QStringLiteral("secret"));
        s.harness->service.clearRequests();
        auto *button = child<QAbstractButton>(*s.panel, control.toLatin1().constData());
        QCOMPARE(button->text(), label);
        button->click();
        QVERIFY(s.harness->service.waitForRequests(1));
        const RecordedRequest sent = s.harness->service.requests().first();
        QCOMPARE(sent.method + ' ' + sent.path.toLatin1(), "POST " + path.toLatin1());
        QCOMPARE(sent.json, json::parseDocument(body));
        // Nothing is scripted, so the attempt fails and the view is free again.
        QTRY_VERIFY(!state.isSigningIn() && !state.isBrowserAuthInProgress());
    }

    // Escape closes an open drop-down list and nothing else; the next one
    // puts the panel away. In both forms of the panel's window.
    void escapeClosesTheListFirst_data()
    {
        QTest::addColumn<bool>("popup");
        QTest::addColumn<QString>("picker");
        QTest::newRow("window, size") << false << "articleSizePicker";
        QTest::newRow("window, seo standard") << false << "seoStandardPicker";
        QTest::newRow("popup, size") << true << "articleSizePicker";
        QTest::newRow("popup, author") << true << "authorPicker";
    }
    void escapeClosesTheListFirst()
    {
        QFETCH(bool, popup);
        QFETCH(QString, picker);
        ShownScene s = showScene(panelScene("workspace-settings"));
        PanelWindow window(*s.harness->state, popup);
        window.setContent(s.panel.release()); // the window owns it now
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        auto *combo = window.findChild<QComboBox *>(picker);
        QVERIFY(combo);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(combo->view()->isVisible());
        // Through the list's window, as the key comes from the desktop: the
        // list closes on the key's shortcut check, and Qt then hands the key
        // itself to the popup below, which in the popup form is the panel.
        QWindow *list = combo->view()->window()->windowHandle();
        QVERIFY(list);
        QTest::keyClick(list, Qt::Key_Escape);
        QTRY_VERIFY(!combo->view()->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(window.isVisible());
        QTest::keyClick(combo, Qt::Key_Escape);
        QTRY_VERIFY(!window.isVisible());
    }

    // A password reaches assistive technology as mask characters only: the
    // text change events (here sent as the line edit sends them while one
    // types, which it does only with a screen reader on; panel-a11y types
    // for real) and the field's own text.
    void passwordReachesReadersMasked()
    {
        ShownScene out = showScene(panelScene("signed-out"));
        auto *email = child<QLineEdit>(*out.panel, "signInEmail");
        auto *password = child<SecretField>(*out.panel, "signInPassword");
        QVERIFY(password);
        out.harness->state->setSignInPassword(QStringLiteral("hunter2")); // the view follows the state
        QCOMPARE(password->text(), QStringLiteral("hunter2"));
        // Qt hands events to the installed handler only while a screen reader
        // is on, which the offscreen platform never has: hand them to it here.
        const QAccessible::UpdateHandler handler = QAccessible::installUpdateHandler(nullptr);
        QAccessible::installUpdateHandler(handler);
        QVERIFY(handler);
        textEvents.clear();
        for (QLineEdit *field : {email, static_cast<QLineEdit *>(password)}) {
            QAccessibleTextInsertEvent inserted(field, 0, QStringLiteral("demo"));
            handler(&inserted);
            QAccessibleTextRemoveEvent removed(field, 3, QStringLiteral("o"));
            handler(&removed);
            QAccessibleTextUpdateEvent updated(field, 0, QStringLiteral("dem"), QStringLiteral("hunter2"));
            handler(&updated);
            QAccessibleValueChangeEvent value(field, QStringLiteral("hunter2"));
            handler(&value);
        }
        QString typedEmail, secret;
        int secretEvents = 0;
        for (const TextEvent &e : std::as_const(textEvents)) {
            if (e.object == email)
                typedEmail += e.text;
            if (e.object == password) {
                secret += e.text;
                ++secretEvents;
            }
        }
        QCOMPARE(typedEmail, QStringLiteral("demoodemhunter2hunter2")); // other fields' events pass as they are
        QCOMPARE(secretEvents, 4);
        QCOMPARE(secret.size(), typedEmail.size()); // as many characters, each masked
        for (const QChar c : std::as_const(secret))
            QVERIFY2(c == password->maskCharacter(), qPrintable(secret));

        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(password);
        QVERIFY(iface->state().passwordEdit);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Password"));
        const QString value = iface->text(QAccessible::Value);
        QVERIFY(!value.contains(u'h') && !value.contains(u'2'));
        if (QAccessibleTextInterface *textIface = iface->textInterface()) {
            const QString all = textIface->text(0, textIface->characterCount());
            QVERIFY2(!all.contains(u'h') && !all.contains(u'2'), qPrintable(all));
        }
    }

    // What a screen reader is told of the panel's controls beyond their names.
    void readerPresentation()
    {
        ShownScene s = showScene(panelScene("workspace"));
        AppState &state = *s.harness->state;
        const QWidget &panel = *s.panel;
        // Disclosures: buttons that are expanded or collapsed, pressed as clicked.
        for (const char *name : {"recentJobsToggle", "logsToggle"}) {
            auto *toggle = child<QAbstractButton>(panel, name);
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(toggle);
            QCOMPARE(iface->role(), QAccessible::Button);
            QVERIFY(iface->state().expandable);
            QCOMPARE(bool(iface->state().expanded), toggle->isChecked());
            QCOMPARE(bool(iface->state().collapsed), !toggle->isChecked());
            const bool was = toggle->isChecked();
            doAccessibleAction(toggle, QAccessibleActionInterface::pressAction());
            QCOMPARE(toggle->isChecked(), !was);
            QCOMPARE(bool(iface->state().expanded), !was);
        }
        QCOMPARE(state.isShowingRecentJobs(), child<QAbstractButton>(panel, "recentJobsToggle")->isChecked());

        // The language button is named by the language; "Language" is its label.
        auto *language = child<QWidget>(panel, "languageMenu");
        QCOMPARE(language->accessibleName(), QStringLiteral("English"));
        QAccessibleInterface *languageIface = QAccessible::queryAccessibleInterface(language);
        const auto labels = languageIface->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->text(QAccessible::Name), QStringLiteral("Language"));

        // Help texts are the descriptions of their controls, and left out of
        // the reading on their own.
        const QList<std::pair<const char *, QString>> described{
            {"humanizeToggle", QStringLiteral("Make AI content sound more natural and less robotic.")},
            {"articleSizePicker", articleSizeDescription(state.settings().articleSize)},
            {"authorPicker", QStringLiteral("Select the article author profile used when saving the post.")},
        };
        for (const auto &[name, help] : described) {
            QWidget *control = child(panel, name);
            QCOMPARE(control->accessibleDescription(), help);
            for (QLabel *label : control->parentWidget()->findChildren<QLabel *>()) {
                if (label->text() == help)
                    QVERIFY2(QAccessible::queryAccessibleInterface(label)->state().invisible, name);
            }
        }
        // The app group's notes go with their controls too.
        state.setLaunchAtLoginHelperText(QStringLiteral("Not in this build."));
        QCOMPARE(child(panel, "launchAtLoginToggle")->accessibleDescription(),
                 QStringLiteral("Open Pendrel Publisher automatically whenever you sign in to your computer. "
                                "Not in this build."));
        for (const char *note : {"launchAtLoginHelper", "updateRestriction", "updateSummary"})
            QVERIFY2(QAccessible::queryAccessibleInterface(child(panel, note))->state().invisible, note);
        QVERIFY(child(panel, "updateButton")->accessibleDescription().contains(AppUpdateState::productionOnlyMessage));

        // A drop-down list: its label is its caption, its value and text the
        // chosen entry, and it opens on "Press".
        auto *size = child<QComboBox>(panel, "articleSizePicker");
        QAccessibleInterface *sizeIface = QAccessible::queryAccessibleInterface(size);
        QCOMPARE(sizeIface->role(), QAccessible::ComboBox);
        QCOMPARE(sizeIface->relations(QAccessible::Label).value(0).first->text(QAccessible::Name),
                 QStringLiteral("Size"));
        QCOMPARE(sizeIface->text(QAccessible::Value), size->currentText());
        QVERIFY(sizeIface->textInterface());
        QCOMPARE(sizeIface->textInterface()->text(0, sizeIface->textInterface()->characterCount()),
                 size->currentText());
        QVERIFY(!size->currentText().isEmpty());
        QVERIFY(sizeIface->state().collapsed);
        doAccessibleAction(size, QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(size->view()->isVisible());
        QVERIFY(sizeIface->state().expanded);
        size->hidePopup();

        // The sign-in button's place is no "layered pane" said before the button.
        ShownScene out = showScene(panelScene("signed-out"));
        auto *place = child<QWidget>(*out.panel, "signInButton")->parentWidget();
        QCOMPARE(QAccessible::queryAccessibleInterface(place)->role(), QAccessible::Client);

        // A size picked is the size's help, also for the reader.
        choose(child<QComboBox>(panel, "articleSizePicker"), 3);
        QCOMPARE(child(panel, "articleSizePicker")->accessibleDescription(),
                 articleSizeDescription(enumCases<ArticleSize>()[3]));
    }

    // A job's progress is said as it happens: each new status and stage,
    // once, through a notification; a log line alone says nothing.
    void jobProgressIsAnnounced()
    {
        ShownScene s = showScene(panelScene("workspace"));
        AppState &state = *s.harness->state;
        auto *announcer = s.panel->findChild<PanelAnnouncer *>();
        QVERIFY(announcer);
        QSignalSpy said(announcer, &PanelAnnouncer::announced);
        JobRecord job = sceneJob(state, JobStatus::submitted, std::nullopt);
        state.setJobs({job});
        job.status = JobStatus::running;
        job.step = JobStep::transform;
        state.setJobs({job});
        addLogs(job, {QStringLiteral("a line")});
        state.setJobs({job});
        job.step = JobStep::illustrations;
        state.setJobs({job});
        job.status = JobStatus::error;
        job.error = JobErrorInfo{QStringLiteral("Not enough credits."), 402, QStringLiteral("INSUFFICIENT_CREDITS")};
        state.setJobs({job});
        QStringList messages;
        for (const QList<QVariant> &args : std::as_const(said))
            messages << args.first().toString();
        QCOMPARE(messages, (QStringList{
                               PanelTexts::jobAnnouncement(sceneJob(state, JobStatus::submitted, std::nullopt)),
                               QStringLiteral("Working: ") + jobStepLabel(JobStep::transform),
                               QStringLiteral("Working: ") + jobStepLabel(JobStep::illustrations),
                               PanelTexts::jobAnnouncement(job),
                           }));
        // Each a notification of its own, shown with its own message.
        const QList<PanelAnnouncement *> shownMessages = s.panel->findChildren<PanelAnnouncement *>();
        QCOMPARE(shownMessages.size(), messages.size());
        for (qsizetype i = 0; i < messages.size(); ++i) {
            QVERIFY(shownMessages[i]->isVisible());
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(shownMessages[i]);
            QCOMPARE(iface->role(), QAccessible::Notification);
            QCOMPARE(iface->text(QAccessible::Name), messages[i]);
        }
    }

    // A capture that fails is said as the panel shows why: each time, also
    // when a press repeats the message already shown, once per press, and
    // for a capture from outside the panel (the shortcut) as well.
    void failedCapturesAreAnnounced_data()
    {
        QTest::addColumn<std::optional<QString>>("clipboard");
        QTest::addColumn<QStringList>("presses");
        QTest::addColumn<QStringList>("expected");
        const QString noText = QStringLiteral("Clipboard does not contain text.");
        const QString badURL = QStringLiteral("Enter a valid URL.");
        QTest::newRow("empty clipboard") << std::optional<QString>() << QStringList{"useClipboardButton"}
                                         << QStringList{noText};
        QTest::newRow("blank clipboard, twice")
            << std::optional<QString>(QStringLiteral(" \n ")) << QStringList{"useClipboardButton", "useClipboardButton"}
            << QStringList{noText, noText};
        QTest::newRow("no address, twice") << std::optional<QString>() << QStringList{"extractButton", "extractButton"}
                                           << QStringList{badURL, badURL};
        QTest::newRow("the shortcut's capture") << std::optional<QString>() << QStringList{"shortcut"}
                                                << QStringList{noText};
        QTest::newRow("a capture that works says nothing")
            << std::optional<QString>(QStringLiteral("Some text")) << QStringList{"useClipboardButton"} << QStringList{};
    }

    void failedCapturesAreAnnounced()
    {
        QFETCH(std::optional<QString>, clipboard);
        QFETCH(QStringList, presses);
        QFETCH(QStringList, expected);
        ShownScene s = showScene(panelScene("workspace"));
        AppState &state = *s.harness->state;
        ClipperSettings settings = state.settings();
        settings.autoSend = false; // no job to tell of
        state.setSettings(settings);
        s.harness->clipboard.text = clipboard;
        child<QLineEdit>(*s.panel, "urlField")->clear();
        QSignalSpy said(s.panel->findChild<PanelAnnouncer *>(), &PanelAnnouncer::announced);
        for (const QString &press : presses) {
            if (press == u"shortcut")
                state.captureClipboard();
            else
                child<QPushButton>(*s.panel, press.toLatin1().constData())->click();
            QTest::qWait(50);
        }
        QTest::qWait(100);
        QStringList messages;
        for (const QList<QVariant> &args : std::as_const(said))
            messages << args.first().toString();
        QCOMPARE(messages, expected);
    }

    void controlsAreNamedForAssistiveTechnology()
    {
        ShownScene s = showScene(panelScene("workspace"));
        ShownScene out = showScene(panelScene("signed-out"));
        for (const ClipperPanelView *panel : {s.panel.get(), out.panel.get()}) {
            for (QWidget *w : panel->findChildren<QWidget *>()) {
                const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
                                     || qobject_cast<QComboBox *>(w);
                if (!control || !w->isVisibleTo(panel) || w->objectName().startsWith(u"qt_"))
                    continue;
                QVERIFY2(!w->objectName().isEmpty(), qPrintable(w->metaObject()->className()));
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
            }
        }
    }
};

QTEST_MAIN(TestPanelView)
#include "tst_panelview.moc"
