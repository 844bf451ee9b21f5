#pragma once

#include "support/EnumStrings.h"
#include "support/JsonDates.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace pendrel {

// Who is signed in. The refresh token is kept with the session but never
// sent: a session close to expiry is dropped and the user signs in again.
struct UserSession {
    QString accessToken;
    QString refreshToken;
    double expiresAt = 0; // seconds since 1970, exactly as the service sent it
    QString userID;
    std::optional<QString> email;

    bool operator==(const UserSession &) const = default;

    [[nodiscard]] QJsonObject toJson() const;
    static UserSession fromJson(const QJsonValue &value);
    // Dates are not part of the session's form; present for the reader helpers.
    static UserSession fromJson(const QJsonValue &value, const JsonDates &) { return fromJson(value); }
};

enum class AuthStatus { unauthenticated, authenticating, authenticated, error };

template <>
struct EnumStrings<AuthStatus> {
    static constexpr std::array values{
        std::pair{AuthStatus::unauthenticated, "unauthenticated"},
        std::pair{AuthStatus::authenticating, "authenticating"},
        std::pair{AuthStatus::authenticated, "authenticated"},
        std::pair{AuthStatus::error, "error"},
    };
};

// The sign-in state the interface shows.
struct AuthState {
    AuthStatus status = AuthStatus::unauthenticated;
    std::optional<QString> tenantID;
    std::optional<QString> tenantName;
    std::optional<QString> customDomain;
    std::optional<qint64> balanceCredits;
    std::optional<QString> planType;
    std::optional<QDateTime> lastCheckedAt;
    std::optional<UserSession> session;
    std::optional<QString> errorMessage;

    bool operator==(const AuthState &) const = default;

    static AuthState unauthenticated() { return {}; }

    [[nodiscard]] QJsonObject toJson(const JsonDates &dates) const;
    static AuthState fromJson(const QJsonValue &value, const JsonDates &dates);
};

} // namespace pendrel
