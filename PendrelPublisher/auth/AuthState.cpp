#include "auth/AuthState.h"

#include "support/JsonRead.h"
#include "support/JsonWrite.h"

namespace pendrel {

using L = QLatin1StringView;

QJsonObject UserSession::toJson() const
{
    QJsonObject o{
        {L("accessToken"), accessToken},
        {L("refreshToken"), refreshToken},
        {L("expiresAt"), expiresAt},
        {L("userID"), userID},
    };
    json::insertOptional(o, L("email"), email);
    return o;
}

UserSession UserSession::fromJson(const QJsonValue &value)
{
    const JsonDates dates = JsonDates::iso8601();
    const json::ObjectReader r(value, dates);
    return UserSession{r.requireString(L("accessToken")), r.requireString(L("refreshToken")),
                       r.requireDouble(L("expiresAt")), r.requireString(L("userID")),
                       r.optionalString(L("email"))};
}

QJsonObject AuthState::toJson(const JsonDates &dates) const
{
    QJsonObject o{{L("status"), enumString(status)}};
    json::insertOptional(o, L("tenantID"), tenantID);
    json::insertOptional(o, L("tenantName"), tenantName);
    json::insertOptional(o, L("customDomain"), customDomain);
    json::insertOptional(o, L("balanceCredits"), balanceCredits);
    json::insertOptional(o, L("planType"), planType);
    json::insertOptional(o, L("lastCheckedAt"), lastCheckedAt,
                         [&](const QDateTime &d) { return dates.encode(d); });
    json::insertOptional(o, L("session"), session, [](const UserSession &s) { return s.toJson(); });
    json::insertOptional(o, L("errorMessage"), errorMessage);
    return o;
}

AuthState AuthState::fromJson(const QJsonValue &value, const JsonDates &dates)
{
    const json::ObjectReader r(value, dates);
    return AuthState{
        r.requireEnum<AuthStatus>(L("status")), r.optionalString(L("tenantID")),
        r.optionalString(L("tenantName")),      r.optionalString(L("customDomain")),
        r.optionalInt(L("balanceCredits")),     r.optionalString(L("planType")),
        r.optionalDate(L("lastCheckedAt")),     r.optionalRecord<UserSession>(L("session")),
        r.optionalString(L("errorMessage")),
    };
}

} // namespace pendrel
