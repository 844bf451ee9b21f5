#include "auth/NativeAuth.h"

#include "support/JsonRead.h"

namespace pendrel {

using L = QLatin1StringView;

QString providerName(NativeAuthProvider provider)
{
    switch (provider) {
    case NativeAuthProvider::apple:
        return QStringLiteral("Apple");
    case NativeAuthProvider::google:
        return QStringLiteral("Google");
    case NativeAuthProvider::github:
        return QStringLiteral("GitHub");
    case NativeAuthProvider::linkedinOIDC:
        return QStringLiteral("LinkedIn");
    case NativeAuthProvider::facebook:
        return QStringLiteral("Facebook");
    }
    return {};
}

QString providerHelperCopy(NativeAuthProvider provider)
{
    return QStringLiteral("Continue with ") + providerName(provider);
}

UserPayload UserPayload::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return UserPayload{r.requireString(L("id")), r.optionalString(L("email"))};
}

SessionPayload SessionPayload::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return SessionPayload{r.requireString(L("access_token")), r.requireString(L("refresh_token")),
                          r.requireDouble(L("expires_at"))};
}

UserSession sessionFromPayloads(const UserPayload &user, const SessionPayload &session)
{
    return UserSession{session.accessToken, session.refreshToken, session.expiresAt, user.id, user.email};
}

NativeBrowserAuthStartResponse NativeBrowserAuthStartResponse::fromJson(const QJsonValue &value,
                                                                        const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return NativeBrowserAuthStartResponse{r.requireString(L("sessionId")), r.requireString(L("pollToken")),
                                          r.requireString(L("mode")), r.requireString(L("authUrl"))};
}

NativeBrowserAuthPollResponse NativeBrowserAuthPollResponse::fromJson(const QJsonValue &value,
                                                                      const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return NativeBrowserAuthPollResponse{r.requireString(L("status")), r.optionalString(L("mode")),
                                         r.optionalRecord<UserPayload>(L("user")),
                                         r.optionalRecord<SessionPayload>(L("session"))};
}

std::optional<UserSession> NativeBrowserAuthPollResponse::completedSession() const
{
    if (status != u"completed" || !user || !session)
        return std::nullopt;
    return sessionFromPayloads(*user, *session);
}

} // namespace pendrel
