// The workspace data behind the settings' choices.

#include "api/APIClient.h"

#include <exception>

namespace pendrel {

namespace {

template <class T>
QCoro::Task<T> getDecoded(APIClient &client, QString path, T (*decode)(const QByteArray &),
                          const CancellationToken *cancel)
{
    const QByteArray method = "GET";
    const std::optional<QString> noTenant;
    const std::optional<RequestBody> noBody;
    const HttpResponse response = co_await client.performRequest(path, method, noTenant, noBody, cancel);
    // Decoded as soon as it arrives, while the others may still be loading.
    co_return decode(response.body);
}

// Awaits one of the fetch's requests. The first failure is kept and cancels
// the requests still outstanding; later outcomes are waited for and dropped.
template <class T>
QCoro::Task<void> settle(const QCoro::Task<T> &task, T &out, std::exception_ptr &failure,
                         CancellationToken &cancel)
{
    try {
        T value = co_await task;
        if (!failure)
            out = std::move(value);
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
            cancel.cancel();
        }
    }
}

} // namespace

QCoro::Task<AuxData> APIClient::fetchAuxData(QString tenantID, QString language)
{
    CancellationToken cancel;
    // The identifiers go into the queries as they are, unescaped.
    const QString presetsPath = QStringLiteral("api/internal-links/presets?tenantId=") + tenantID
                                + QStringLiteral("&language=") + language;
    const QString settingsPath = QStringLiteral("api/tenant-settings?tenantId=") + tenantID;
    const QString favoritesPath = QStringLiteral("api/ai-insights/favorites?tenantId=") + tenantID;
    const QString accountsPath = QStringLiteral("api/social-accounts?tenantId=") + tenantID;

    // Tasks start at once, so all four are in flight before the first wait.
    const QCoro::Task<QList<LinksPreset>> presets =
        getDecoded(*this, presetsPath, auxanswers::presets, &cancel);
    const QCoro::Task<QList<AuthorOption>> authors =
        getDecoded(*this, settingsPath, auxanswers::authors, &cancel);
    const QCoro::Task<QList<FavoriteDomain>> favorites =
        getDecoded(*this, favoritesPath, auxanswers::favorites, &cancel);
    const QCoro::Task<QList<ConnectedSocialAccount>> accounts =
        getDecoded(*this, accountsPath, auxanswers::socialAccounts, &cancel);

    AuxData data;
    std::exception_ptr failure;
    co_await settle(presets, data.presets, failure, cancel);
    co_await settle(authors, data.authors, failure, cancel);
    co_await settle(favorites, data.favorites, failure, cancel);
    co_await settle(accounts, data.socialAccounts, failure, cancel);
    if (failure)
        std::rethrow_exception(failure);
    data.language = language;
    data.lastFetchedAt = QDateTime::currentDateTimeUtc();
    co_return data;
}

} // namespace pendrel
