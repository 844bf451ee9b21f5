#pragma once

#include "jobs/JobQueue.h"
#include "platform/ClipboardReader.h"
#include "platform/FileSecretBackend.h"
#include "platform/LoginItemBackend.h"
#include "platform/NotificationBackend.h"
#include "platform/ShortcutSetup.h"
#include "platform/UrlOpener.h"
#include "state/AppState.h"
#include "support/Tasks.h"

#include <QTemporaryDir>
#include <QTest>

#include "FakeContentService.h"
#include "JsonTestUtil.h"

#include <memory>

namespace pendrel::test {

class FakeClipboard final : public ClipboardReader {
public:
    std::optional<QString> text;
    [[nodiscard]] std::optional<QString> plainText() const override { return text; }
};

class RecordingUrlOpener final : public UrlOpener {
public:
    QList<QUrl> opened;
    void open(const QUrl &url) override { opened.append(url); }
};

// Records what would be shown; can be told to fail like a desktop without
// a notification server.
class RecordingNotifications final : public NotificationBackend {
public:
    int authorizationRequests = 0;
    QList<NotificationRequest> posted;
    bool failing = false;
    std::function<void(const NotificationRequest &)> onAdd; // called as each one is posted

    QCoro::Task<void> requestAuthorization() override
    {
        ++authorizationRequests;
        if (failing)
            throw std::runtime_error("no notification server");
        co_return;
    }
    QCoro::Task<void> add(NotificationRequest request) override
    {
        if (failing)
            throw std::runtime_error("no notification server");
        posted.append(request);
        if (onAdd)
            onAdd(request);
        co_return;
    }
};

// A login-item registry in memory; refuses when told to.
class FakeLoginItems final : public LoginItemBackend {
public:
    Status current = Status::notRegistered;
    std::optional<QString> refusal;
    int changes = 0;

    [[nodiscard]] Status status() const override { return current; }
    void registerItem() override { change(Status::enabled); }
    void unregisterItem() override { change(Status::notRegistered); }

private:
    void change(Status to)
    {
        ++changes;
        if (refusal)
            throw MessageError(*refusal);
        current = to;
    }
};

// The desktop's shortcut setup as the panel sees it; the real one (GNOME's
// GSettings) is tested in tst_gnomeshortcut.
class FakeShortcutSetup final : public ShortcutSetup {
public:
    bool offered = false;
    bool added = false;
    QList<Binding> others;
    std::optional<QString> refusal;
    ShortcutKeys keys;
    bool blocks = false; // the others keep ours from ever firing

    void setKeys(const ShortcutKeys &k) override { keys = k; }
    [[nodiscard]] bool applies() const override { return offered; }
    [[nodiscard]] bool isAdded() const override { return added; }
    [[nodiscard]] QList<Binding> otherBindings() const override { return others; }
    [[nodiscard]] QList<Binding> blockingBindings() const override { return blocks ? others : QList<Binding>(); }
    void add() override { change(true); }
    void remove() override { change(false); }

private:
    void change(bool to)
    {
        if (refusal)
            throw MessageError(*refusal);
        added = to;
    }
};

// An application state wired to fakes: the fake content service over HTTP,
// a file secret store and the state file in a temporary folder.
class AppStateHarness {
public:
    QTemporaryDir dir;
    FakeContentService service;
    FileSecretBackend secrets{dir.filePath(QStringLiteral("secrets"))};
    FakeClipboard clipboard;
    RecordingUrlOpener opener;
    RecordingNotifications notifications;
    FakeLoginItems loginItems;
    FakeShortcutSetup shortcutSetup;
    std::unique_ptr<AppState> state;

    // Secrets go to `secretStore` when given (the desktop's store), else to a file.
    explicit AppStateHarness(SecretBackend *secretStore = nullptr) : secretStore_(secretStore)
    {
        qputenv("PENDREL_API_BASE_URL", service.baseUrl().toString().toUtf8());
        create();
    }
    ~AppStateHarness()
    {
        state.reset(); // writes what is still waiting before the folder goes
    }

    // A new application state over the same folder, as after a restart.
    void create()
    {
        state.reset();
        AppStateServices services;
        services.stateFolder = dir.filePath(QStringLiteral("data"));
        services.secrets = secretStore_ ? secretStore_ : &secrets;
        services.clipboard = &clipboard;
        services.urlOpener = &opener;
        services.notifications = &notifications;
        services.loginItems = &loginItems;
        services.shortcutSetup = &shortcutSetup;
        state = std::make_unique<AppState>(services);
    }

    // Signs in with the local service's demo account; true once signed in.
    bool signInAsDemo()
    {
        state->setSignInEmail(QStringLiteral("demo@pendrel.test"));
        state->setSignInPassword(QStringLiteral("demo"));
        state->signIn();
        return QTest::qWaitFor([&] { return !state->isSigningIn(); }, 10000)
               && state->authState().status == AuthStatus::authenticated;
    }

    // Signs in by e-mail against the fake service; true once signed in.
    bool signInByEmail()
    {
        service.answer(
            "POST", QStringLiteral("/api/auth/signin"),
            ScriptedAnswer::json(200, q("{'message':'ok','user':{'id':'u-1','email':'ann@pendrel.test'},"
                                        "'session':{'access_token':'at','refresh_token':'rt',"
                                        "'expires_at':4000000000}}")));
        state->setSignInEmail(QStringLiteral("ann@pendrel.test"));
        state->setSignInPassword(QStringLiteral("secret"));
        state->signIn();
        return QTest::qWaitFor([&] { return !state->isSigningIn(); }, 10000)
               && state->authState().status == AuthStatus::authenticated;
    }

    // Makes the session the panel shows, and the stored one, run out a
    // minute ago, as after a night's sleep.
    void letSessionRunOut()
    {
        UserSession expired = *state->authState().session;
        expired.expiresAt = double(QDateTime::currentSecsSinceEpoch() - 60);
        blockingWait(state->authManager().keychainStore().save(expired));
        AuthState shown = state->authState();
        shown.session = expired;
        state->setAuthState(shown);
    }

    // A stored session that is valid for a long time.
    void storeSession()
    {
        const UserSession session{QStringLiteral("token-1"), QStringLiteral("refresh-1"), 4.0e9,
                                  QStringLiteral("user-1"), QStringLiteral("ada@pendrel.test")};
        blockingWait(state->authManager().keychainStore().save(session));
    }

    // The tenant and the workspace requests answered as a healthy service would.
    void answerWorkspace()
    {
        service.answer(
            "GET", QStringLiteral("/api/tenants"),
            ScriptedAnswer::json(200, q("{'tenants':[{'id':'t1','name':'Acme','balance_credits':500}]}")));
        service.answer("GET", QStringLiteral("/api/domains"),
                       ScriptedAnswer::json(200, q("{'status':'active','domain':'blog.acme.test'}")));
        service.answer("GET", QStringLiteral("/api/internal-links/presets"),
                       ScriptedAnswer::json(200, q("{'presets':[]}")));
        service.answer("GET", QStringLiteral("/api/tenant-settings"), ScriptedAnswer::json(200, "{}"));
        service.answer("GET", QStringLiteral("/api/ai-insights/favorites"),
                       ScriptedAnswer::json(200, q("{'favorites':[]}")));
        service.answer("GET", QStringLiteral("/api/social-accounts"),
                       ScriptedAnswer::json(200, q("{'accounts':[]}")));
    }

    // Every pipeline stage answered successfully.
    void answerPipeline()
    {
        service.answer("POST", QStringLiteral("/api/documents/extract-text"),
                       ScriptedAnswer::json(200, q("{'text':'  Extracted body\\n'}")));
        service.answer(
            "POST", QStringLiteral("/api/blog/admin/analyze"),
            ScriptedAnswer::json(200, q("{'categories':['tech'],'age':['adult'],'problems':['time']}")));
        service.answer(
            "POST", QStringLiteral("/api/blog/admin/transform"),
            ScriptedAnswer::json(200, q("{'transformedContent':'# Fast Builds\\n\\nBody','qualityScore':87,"
                                        "'citations':['https://src.test']}")));
        service.answer(
            "POST", QStringLiteral("/api/blog/illustrations/generate"),
            ScriptedAnswer::json(200, q("{'content':'# Fast Builds\\n\\n![a](https://i.test/a)\\n\\nBody',"
                                        "'assets':[{'url':'https://i.test/a'}],'generationId':'g1',"
                                        "'style':'ink','provider':'p'}")));
        service.answer(
            "POST", QStringLiteral("/api/blog/humanize"),
            ScriptedAnswer::json(200, q("{'success':true,'content':'# Fast Builds\\n\\nHuman body'}")));
        service.answer("POST", QStringLiteral("/api/blog/save"),
                       ScriptedAnswer::json(200, q("{'articleId':'art-1','url':'/blog/fast-builds'}")));
        service.answer("POST", QStringLiteral("/api/blog/voice-over/generate"),
                       ScriptedAnswer::json(202, ""));
    }

    // Signed in, workspace and pipeline answered, bootstrapped.
    void startSignedIn()
    {
        storeSession();
        answerWorkspace();
        answerPipeline();
        blockingWait(state->bootstrap());
    }

    // What Super+Shift+S (and `--capture` reaching the running program)
    // does with whatever is on the clipboard now.
    void capture() { state->captureClipboard(); }

    // Puts `text` on the clipboard, captures it and sends it, whatever the
    // automatic-send setting says.
    void sendText(const QString &text)
    {
        clipboard.text = text;
        state->captureClipboard(false);
        state->sendPendingClip();
    }

    [[nodiscard]] bool waitUntilIdle(int timeoutMs = 10000) const
    {
        return QTest::qWaitFor([this] { return !state->jobQueue().isProcessing(); }, timeoutMs);
    }

    // The state file as it is on disk now.
    [[nodiscard]] PersistedState stateFile() const
    {
        state->persistenceStore().waitForPendingSaves();
        QFile file(state->persistenceStore().currentFilePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const JsonDates dates = JsonDates::iso8601();
        return PersistedState::fromJson(json::parseDocument(file.readAll()), dates);
    }

    // Writes a state file for the next start.
    void writeStateFile(const PersistedState &stored) const
    {
        const QString path = state->persistenceStore().currentFilePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        const JsonDates dates = JsonDates::iso8601();
        file.write(json::writeSorted(stored.toJson(dates)));
    }

    [[nodiscard]] QStringList requestPaths() const
    {
        QStringList paths;
        for (const RecordedRequest &r : service.requests())
            paths << r.path;
        return paths;
    }

    [[nodiscard]] SecretBackend &secretStore() { return secretStore_ ? *secretStore_ : secrets; }

    [[nodiscard]] static QStringList logMessages(const JobRecord &job)
    {
        QStringList lines;
        for (const JobLogEntry &e : job.logs)
            lines << e.message;
        return lines;
    }

private:
    SecretBackend *secretStore_ = nullptr;
};

} // namespace pendrel::test
