#pragma once

// Named states of the application for looking at the panel: each puts a
// fresh application state into one situation a user meets. Shared by the
// panel tests and the screenshot tool.

#include "ui/ClipperPanelView.h"
#include "ui/PanelPieces.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPalette>
#include <QScrollArea>
#include <QScrollBar>

#include "AppStateHarness.h"

#include <memory>

namespace pendrel::test {

struct PanelScene {
    const char *name;
    const char *previewMode; // the sample state it starts from, or nullptr: signed out
    std::function<void(AppState &)> adjust;
    // Runs on the built panel (open a disclosure, scroll to a section).
    std::function<void(ClipperPanelView &)> arrange;
    bool fullLength = false; // also worth a picture of the whole scrolling content
};

inline JobRecord sceneJob(const AppState &state, JobStatus status, std::optional<JobStep> step)
{
    ClipPayload clip = ClipPayload::webAddress(QStringLiteral("https://example.com/notes/faster-builds"));
    clip.title = QStringLiteral("Faster builds with fewer surprises");
    clip.text = QStringLiteral("Why incremental builds break, and how a small team keeps them fast.");
    JobRecord job = JobRecord::draft(clip, state.settings());
    job.status = status;
    job.step = step;
    job.title = clip.title;
    return job;
}

inline void addLogs(JobRecord &job, const QStringList &lines)
{
    QDateTime at = QDateTime::currentDateTimeUtc().addSecs(-60);
    for (const QString &line : lines) {
        job.appendLog(LogLevel::info, line, at);
        at = at.addSecs(7);
    }
}

inline void scrollTo(ClipperPanelView &panel, const char *objectName)
{
    if (QWidget *target = panel.findChild<QWidget *>(QString::fromLatin1(objectName))) {
        panel.scrollArea()->widget()->adjustSize();
        const QPoint at = target->mapTo(panel.scrollArea()->widget(), QPoint(0, 0));
        panel.scrollArea()->verticalScrollBar()->setValue(at.y() - 14);
    }
}

inline QList<PanelScene> panelScenes()
{
    return {
        {"signed-out", nullptr, nullptr, nullptr, true},
        {"signing-in", nullptr,
         [](AppState &s) {
             s.setSignInEmail(QStringLiteral("demo@pendrel.test"));
             s.setSignInPassword(QStringLiteral("demo"));
             s.setIsSigningIn(true);
         },
         nullptr},
        {"browser-sign-in", nullptr,
         [](AppState &s) {
             s.setIsBrowserAuthInProgress(true);
             s.setBrowserAuthStatusMessage(QStringLiteral("Continue with GitHub"));
         },
         nullptr},
        {"sign-in-error", nullptr,
         [](AppState &s) {
             s.setSignInEmail(QStringLiteral("demo@pendrel.test"));
             s.setSignInPassword(QStringLiteral("wrong"));
             s.setAuthErrorMessage(QStringLiteral("Invalid email or password."));
         },
         nullptr},
        {"workspace", "workspace", nullptr, nullptr, true},
        {"workspace-error", "workspace-error", nullptr, nullptr},
        {"workspace-settings", "workspace-settings", nullptr, nullptr},
        {"workspace-jobs", "workspace-jobs", nullptr, nullptr},
        {"running-job", "workspace",
         [](AppState &s) {
             JobRecord done = s.jobs().value(0);
             JobRecord running = sceneJob(s, JobStatus::running, JobStep::transform);
             running.processing = true;
             addLogs(running, {QStringLiteral("Queued"), QStringLiteral("Extracting"),
                               QStringLiteral("Extracted 5,214 characters"), QStringLiteral("Analyzing"),
                               QStringLiteral("Transforming")});
             JobRecord queued = sceneJob(s, JobStatus::submitted, JobStep::prepare);
             queued.title = QStringLiteral("Release notes for 2.4");
             queued.createdAt = queued.createdAt.addSecs(-1);
             s.setJobs({running, queued, done});
         },
         [](ClipperPanelView &panel) {
             if (auto *logs = panel.findChild<QAbstractButton *>(QStringLiteral("logsToggle")))
                 logs->click();
         }},
        {"insufficient-credits", "workspace",
         [](AppState &s) {
             JobRecord failed = sceneJob(s, JobStatus::error, JobStep::transform);
             failed.error = JobErrorInfo{QStringLiteral("Not enough credits for this article."), 402,
                                         QStringLiteral("INSUFFICIENT_CREDITS")};
             addLogs(failed, {QStringLiteral("Extracting"), QStringLiteral("Transforming"),
                              QStringLiteral("Not enough credits for this article.")});
             s.setJobs({failed});
         },
         nullptr},
        {"settings-competition", "workspace-settings",
         [](AppState &s) {
             ClipperSettings settings = s.settings();
             settings.enableCompetition = true;
             settings.competitionOptions.winningTitles = true;
             settings.competitionOptions.gapAnalysis = true;
             settings.targetDomain = QStringLiteral("rival.example");
             settings.articleSize = ArticleSize::standard;
             s.setSettings(settings);
         },
         [](ClipperPanelView &panel) { scrollTo(panel, "enhancementsGroup"); }},
        {"settings-crossposting", "workspace-settings", nullptr,
         [](ClipperPanelView &panel) { scrollTo(panel, "socialCrosspostingSection"); }},
        // GNOME 43 to 47, with GNOME's screenshot tool on the same keys.
        {"settings-gnome-shortcut", "workspace-settings",
         [](AppState &s) {
             auto *gnome = static_cast<FakeShortcutSetup *>(s.shortcutSetup());
             gnome->offered = true;
             gnome->others = {{QStringLiteral("Take a screenshot interactively"), QStringLiteral("GNOME Shell")}};
         },
         [](ClipperPanelView &panel) { scrollTo(panel, "appGroup"); }},
        {"settings-shortcut-taken", "workspace-settings",
         [](AppState &s) {
             s.setShortcutStatus(QStringLiteral("Super+Shift+S is taken by another program; choose other keys."));
         },
         [](ClipperPanelView &panel) { scrollTo(panel, "appGroup"); }},
        {"settings-shortcut-chosen", "workspace-settings",
         [](AppState &s) {
             s.setShortcutKeys(*ShortcutKeys::fromText(u"Ctrl+Alt+P"));
             s.setShortcutStatus(QStringLiteral("Ctrl+Alt+P captures the clipboard."));
         },
         [](ClipperPanelView &panel) { scrollTo(panel, "appGroup"); }},
    };
}

// A desktop's palette the panel may be opened under: Fusion's own light one,
// or a dark scheme like qt6ct's "darker" or Adwaita-dark (light text on dark
// windows, dark fields, a light placeholder).
enum class DesktopTheme { light, dark };

inline QPalette desktopPalette(DesktopTheme theme)
{
    if (theme == DesktopTheme::light)
        return QPalette(QColor(0x23, 0x23, 0x23), QColor(0xef, 0xef, 0xef));
    QPalette dark(QColor(0xee, 0xee, 0xec), QColor(0x24, 0x1f, 0x31));
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        dark.setColor(group, QPalette::Base, QColor(0x2d, 0x2d, 0x2d));
        dark.setColor(group, QPalette::Text, QColor(0xee, 0xee, 0xec));
        dark.setColor(group, QPalette::Button, QColor(0x35, 0x35, 0x35));
        dark.setColor(group, QPalette::ButtonText, QColor(0xee, 0xee, 0xec));
        dark.setColor(group, QPalette::PlaceholderText, QColor(0x9a, 0x99, 0x96));
        dark.setColor(group, QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    }
    return dark;
}

inline const char *lookName(PanelLook look)
{
    return look == PanelLook::dark ? "dark" : "light";
}

inline void useDesktopTheme(DesktopTheme theme)
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(desktopPalette(theme));
}

// A harness and a shown panel in one scene.
struct ShownScene {
    std::unique_ptr<AppStateHarness> harness;
    std::unique_ptr<ClipperPanelView> panel;
};

// The scene of that name; a test asking for one that does not exist stops.
inline PanelScene panelScene(const char *name)
{
    for (const PanelScene &s : panelScenes()) {
        if (qstrcmp(s.name, name) == 0)
            return s;
    }
    qFatal("no scene %s", name);
}

// The panel is drawn in `look` from the start, as the shell makes it.
inline ShownScene showScene(const PanelScene &scene, PanelLook look = PanelLook::light)
{
    ShownScene shown;
    if (scene.previewMode)
        qputenv("PENDREL_DEBUG_PREVIEW_STATE", scene.previewMode);
    shown.harness = std::make_unique<AppStateHarness>();
    AppState &state = *shown.harness->state;
    blockingWait(state.bootstrap());
    if (scene.adjust)
        scene.adjust(state);
    shown.panel = std::make_unique<ClipperPanelView>(state, nullptr, look);
    qunsetenv("PENDREL_DEBUG_PREVIEW_STATE");
    shown.panel->resize(shown.panel->sizeHint());
    shown.panel->show();
    QCoreApplication::processEvents();
    if (scene.arrange)
        scene.arrange(*shown.panel);
    // Let the layouts settle after the arrangement before anyone looks.
    for (int i = 0; i < 3; ++i) {
        shown.panel->scrollArea()->widget()->adjustSize();
        QCoreApplication::processEvents();
    }
    return shown;
}

} // namespace pendrel::test
