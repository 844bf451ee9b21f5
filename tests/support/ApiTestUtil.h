#pragma once

#include "api/APIClient.h"
#include "support/Tasks.h"

namespace pendrel::test {

// Hands out a fixed session, or none, as the auth manager would.
class FixedSessions final : public SessionSource {
public:
    std::optional<UserSession> session =
        UserSession{QStringLiteral("token-1"), QStringLiteral("r"), 4e9, QStringLiteral("u"), std::nullopt};
    QCoro::Task<std::optional<UserSession>> restoreSession() override
    {
        // GCC 12 moves from a member named in co_return; return a copy.
        std::optional<UserSession> copy = session;
        co_return copy;
    }
};

// How a call ended, as one comparable line: "ok", "decoding",
// "transport", "invalidResponse", "missingSession", or
// "http <status> <code> <message>" (code "-" when there is none).
template <class T>
QString outcomeOf(QCoro::Task<T> task)
{
    try {
        blockingWait(std::move(task));
        return QStringLiteral("ok");
    } catch (const DecodingError &) {
        return QStringLiteral("decoding");
    } catch (const TransportError &) {
        return QStringLiteral("transport");
    } catch (const APIClientError &e) {
        switch (e.kind()) {
        case APIClientError::Kind::http:
            return QStringLiteral("http %1 %2 %3")
                .arg(e.statusCode())
                .arg(e.code().value_or(QStringLiteral("-")), e.message());
        case APIClientError::Kind::invalidResponse:
            return QStringLiteral("invalidResponse");
        case APIClientError::Kind::missingSession:
            return QStringLiteral("missingSession");
        default:
            return e.description();
        }
    }
}

} // namespace pendrel::test
