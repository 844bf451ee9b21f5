#include "auth/KeychainStore.h"

#include "support/JsonRead.h"

#include <QJsonDocument>

namespace pendrel {

QString KeychainError::description() const
{
    if (!message_.isEmpty())
        return message_;
    return QStringLiteral("The secret store failed (code %1).").arg(code_);
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
        co_await backend_.remove(service_, accountName); // outcome ignored
        const SecretResult added = co_await backend_.write(service_, accountName, data);
        if (added.status != SecretResult::Status::ok)
            throw KeychainError(added.code, added.message);
        co_return true;
    };
    co_await queue_.run<bool>(operation);
}

QCoro::Task<std::optional<UserSession>> KeychainStore::loadSession()
{
    std::function<QCoro::Task<std::optional<UserSession>>()> operation =
        [this]() -> QCoro::Task<std::optional<UserSession>> {
        const QString accountName = account.toString();
        const SecretResult found = co_await backend_.read(service_, accountName);
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
        const QString accountName = account.toString();
        co_await backend_.remove(service_, accountName);
        co_return true;
    };
    co_await queue_.run<bool>(operation);
}

} // namespace pendrel
