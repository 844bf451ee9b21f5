#include "auth/KeychainStore.h"

#include "support/JsonRead.h"

#include <QJsonDocument>
#include <QTimer>

namespace pendrel {

QString KeychainError::description() const
{
    if (!message_.isEmpty())
        return message_;
    return QStringLiteral("The secret store failed (code %1).").arg(code_);
}

QString SessionNotStoredError::description() const
{
    QString cause = KeychainError::description();
    while (cause.endsWith(u'.'))
        cause.chop(1);
    return QStringLiteral("Signed in until you quit: the session could not be kept in the desktop's secret "
                          "store (%1).")
        .arg(cause);
}

KeychainStore::KeychainStore(SecretBackend &backend, const QString &bundleIdentifier, QObject *parent)
    : QObject(parent), backend_(backend), service_(bundleIdentifier + QStringLiteral(".session"))
{
}

// GCC 12 mishandles temporaries with destructors inside a co_await
// expression, so every awaited call here takes named values only.

QCoro::Task<void> KeychainStore::save(UserSession session)
{
    std::function<QCoro::Task<bool>()> operation = [this, session]() -> QCoro::Task<bool> {
        const QByteArray data = QJsonDocument(session.toJson()).toJson(QJsonDocument::Compact);
        const QString accountName = account.toString();
        const Call removeOld = [&] { return backend_.remove(service_, accountName); };
        const Call add = [&] { return backend_.write(service_, accountName, data); };
        // Its outcome is ignored, except a store that does not answer at
        // all: the write would only wait as long again.
        const SecretResult removed = co_await ask(removeOld);
        // Not a conditional expression around co_await: GCC 12 destroys a
        // temporary of it twice, and a failed write's message was freed
        // under qtkeychain's job (valgrind: invalid read, then invalid free).
        SecretResult added = removed;
        if (removed.status != SecretResult::Status::noAnswer)
            added = co_await ask(add);
        if (added.status != SecretResult::Status::ok) {
            // Kept here instead, so that the sign-in holds until the program quits.
            sessionOfThisRun_ = session;
            throw KeychainError(added.code, added.message);
        }
        sessionOfThisRun_.reset();
        co_return true;
    };
    co_await queue_.run<bool>(operation);
}

QCoro::Task<std::optional<UserSession>> KeychainStore::loadSession()
{
    std::function<QCoro::Task<std::optional<UserSession>>()> operation =
        [this]() -> QCoro::Task<std::optional<UserSession>> {
        if (sessionOfThisRun_)
            co_return sessionOfThisRun_;
        const QString accountName = account.toString();
        const Call read = [&] { return backend_.read(service_, accountName); };
        const SecretResult found = co_await ask(read);
        if (found.status == SecretResult::Status::notFound)
            co_return std::nullopt;
        if (found.status != SecretResult::Status::ok)
            throw KeychainError(found.code, found.message);
        co_return UserSession::fromJson(json::parseDocument(found.data));
    };
    co_return co_await queue_.run<std::optional<UserSession>>(operation);
}

QCoro::Task<void> KeychainStore::clearSession()
{
    std::function<QCoro::Task<bool>()> operation = [this]() -> QCoro::Task<bool> {
        sessionOfThisRun_.reset();
        const QString accountName = account.toString();
        const Call remove = [&] { return backend_.remove(service_, accountName); };
        co_await ask(remove);
        co_return true;
    };
    co_await queue_.run<bool>(operation);
}

QCoro::Task<SecretResult> KeychainStore::ask(const Call &call)
{
    QTimer prompt;
    prompt.setSingleShot(true);
    connect(&prompt, &QTimer::timeout, this, [this] { setWaitingForUser(true); });
    prompt.start(userPromptDelayMs);
    SecretResult result = co_await call();
    prompt.stop();
    setWaitingForUser(false);
    co_return result;
}

void KeychainStore::setWaitingForUser(bool waiting)
{
    if (waitingForUser_ == waiting)
        return;
    waitingForUser_ = waiting;
    emit waitingForUserChanged(waiting);
}

} // namespace pendrel
