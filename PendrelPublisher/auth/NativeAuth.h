#pragma once

#include "auth/AuthState.h"
#include "support/EnumStrings.h"
#include "support/JsonDates.h"

#include <QString>

#include <optional>

namespace pendrel {

enum class NativeAuthFlowMode { signin, signup };

template <>
struct EnumStrings<NativeAuthFlowMode> {
    static constexpr std::array values{
        std::pair{NativeAuthFlowMode::signin, "signin"},
        std::pair{NativeAuthFlowMode::signup, "signup"},
    };
};

enum class NativeAuthProvider { apple, google, github, linkedinOIDC, facebook };

template <>
struct EnumStrings<NativeAuthProvider> {
    static constexpr std::array values{
        std::pair{NativeAuthProvider::apple, "apple"},
        std::pair{NativeAuthProvider::google, "google"},
        std::pair{NativeAuthProvider::github, "github"},
        std::pair{NativeAuthProvider::linkedinOIDC, "linkedin_oidc"},
        std::pair{NativeAuthProvider::facebook, "facebook"},
    };
};

QString providerName(NativeAuthProvider provider);       // "LinkedIn"
QString providerHelperCopy(NativeAuthProvider provider); // "Continue with LinkedIn"

// The "user" and "session" objects of a sign-in or completed poll answer.
struct UserPayload {
    QString id;
    std::optional<QString> email;
    static UserPayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct SessionPayload {
    QString accessToken;
    QString refreshToken;
    double expiresAt = 0;
    static SessionPayload fromJson(const QJsonValue &value, const JsonDates &dates);
};

UserSession sessionFromPayloads(const UserPayload &user, const SessionPayload &session);

struct NativeBrowserAuthStartResponse {
    QString sessionId;
    QString pollToken;
    QString mode;
    QString authUrl;
    static NativeBrowserAuthStartResponse fromJson(const QJsonValue &value, const JsonDates &dates);
};

struct NativeBrowserAuthPollResponse {
    QString status; // "completed" and "expired" end the wait; anything else means not yet
    std::optional<QString> mode;
    std::optional<UserPayload> user;
    std::optional<SessionPayload> session;
    static NativeBrowserAuthPollResponse fromJson(const QJsonValue &value, const JsonDates &dates);

    // The session of a completed answer that carries both user and tokens.
    [[nodiscard]] std::optional<UserSession> completedSession() const;
};

} // namespace pendrel
