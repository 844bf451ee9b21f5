#include "shell/UpdaterController.h"

#include "api/APIClient.h"
#include "shell/VersionComparison.h"
#include "state/AppConfiguration.h"
#include "support/Tasks.h"

#include <QDir>
#include <QHostAddress>
#include <QNetworkRequest>
#include <QSettings>
#include <QStandardPaths>

namespace pendrel {

namespace {

constexpr auto automaticChecksKey = "Updates/automaticChecks";

bool isLoopback(const QString &host)
{
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

UpdaterConfiguration UpdaterConfiguration::standard()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    const QString subfolder = AppConfiguration::bundleFolderName(AppConfiguration::bundleIdentifier());
    UpdaterConfiguration configuration;
    configuration.feedURL = AppConfiguration::feedURL();
    configuration.currentVersion = AppConfiguration::shortVersion();
    configuration.settingsPath =
        config + QStringLiteral("/PendrelPublisher/") + subfolder + QStringLiteral("/updater.conf");
    return configuration;
}

UpdaterController::UpdaterController(UpdaterConfiguration configuration, UpdaterDelegate &delegate,
                                     UpdateUserDriver *userDriver, QObject *parent)
    : QObject(parent), configuration_(std::move(configuration)), delegate_(delegate), userDriver_(userDriver)
{
    automaticChecks_ = QSettings(configuration_.settingsPath, QSettings::IniFormat)
                           .value(QLatin1String(automaticChecksKey), true)
                           .toBool();
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!checking_)
            checkForUpdateInformation();
    });
}

std::optional<QString> UpdaterController::startUpdater()
{
    if (started_)
        return std::nullopt;
    const QUrl feed(configuration_.feedURL, QUrl::StrictMode);
    const QString scheme = feed.scheme().toLower();
    if (!feed.isValid() || feed.host().isEmpty() || (scheme != u"https" && scheme != u"http")) {
        startFailure_ = QStringLiteral("The update feed address is not valid: \"%1\".").arg(configuration_.feedURL);
    } else if (scheme == u"http" && !isLoopback(feed.host())) {
        // Updates decide what the user installs; only this computer may
        // serve them without transport security.
        startFailure_ = QStringLiteral("The update feed must be served over HTTPS: %1").arg(configuration_.feedURL);
    }
    if (startFailure_)
        return startFailure_;
    started_ = true;
    setCanCheck(true);
    armTimer();
    return std::nullopt;
}

void UpdaterController::setAutomaticallyChecksForUpdates(bool enabled)
{
    automaticChecks_ = enabled;
    QSettings(configuration_.settingsPath, QSettings::IniFormat).setValue(QLatin1String(automaticChecksKey), enabled);
    armTimer();
}

void UpdaterController::checkForUpdateInformation()
{
    beginCheck(false);
}

void UpdaterController::checkForUpdates()
{
    beginCheck(true);
}

void UpdaterController::beginCheck(bool userInitiated)
{
    if (!started_) {
        const QString reason = startFailure_.value_or(QStringLiteral("The updater has not started."));
        delegate_.didAbortWithError(reason);
        if (userInitiated && userDriver_)
            userDriver_->showError(reason);
        return;
    }
    if (checking_) {
        userInitiated_ = userInitiated_ || userInitiated;
        return;
    }
    checking_ = true;
    userInitiated_ = userInitiated;
    setCanCheck(false);
    startDetached(runCheck(), QStringLiteral("Update check"));
}

QCoro::Task<void> UpdaterController::runCheck()
{
    const QPointer<UpdaterController> self(this);
    const QUrl feed(configuration_.feedURL);
    QNetworkRequest request(feed);
    request.setTransferTimeout(configuration_.timeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Pendrel Publisher/%1").arg(configuration_.currentVersion));
    request.setRawHeader("Accept", "application/rss+xml, application/xml;q=0.9, */*;q=0.5");
    std::optional<AppcastItem> update;
    std::optional<QString> error;
    try {
        QCoro::Task<HttpResponse> sending =
            sendHttp(network_, request, QByteArrayLiteral("GET"), std::nullopt, nullptr, maxFeedBytes);
        const HttpResponse response = co_await std::move(sending);
        if (!self)
            co_return;
        if (response.statusCode < 200 || response.statusCode > 299) {
            error = QStringLiteral("The update feed could not be loaded (HTTP %1 %2).")
                        .arg(response.statusCode)
                        .arg(httpReasonPhrase(response.statusCode));
        } else {
            const QList<AppcastItem> items = Appcast::parse(response.body, feed);
            const std::optional<AppcastItem> best = Appcast::newest(items);
            if (best && VersionComparison::compare(best->versionString, configuration_.currentVersion) > 0)
                update = best;
        }
    } catch (const TransportError &e) {
        if (e.networkError() == QNetworkReply::OperationCanceledError
            || e.networkError() == QNetworkReply::TimeoutError)
            error = QStringLiteral("The update feed did not answer within %1 seconds.")
                        .arg(configuration_.timeoutMs / 1000.0, 0, 'g', 3);
        else
            error = QStringLiteral("The update feed could not be reached: %1").arg(e.description());
    } catch (const APIClientError &) {
        error = QStringLiteral("The update feed is larger than %1 MB.").arg(maxFeedBytes >> 20);
    } catch (const AppcastError &e) {
        error = e.description();
    }
    if (self)
        finish(std::move(update), std::move(error));
}

void UpdaterController::finish(std::optional<AppcastItem> update, std::optional<QString> error)
{
    const bool userInitiated = userInitiated_;
    checking_ = false;
    userInitiated_ = false;
    setCanCheck(true);
    if (error) {
        delegate_.didAbortWithError(*error);
        if (userInitiated && userDriver_)
            userDriver_->showError(*error);
    } else if (update) {
        delegate_.didFindValidUpdate(*update);
        if (userInitiated && userDriver_)
            userDriver_->showUpdateFound(*update, configuration_.currentVersion);
    } else {
        delegate_.didNotFindUpdate();
        if (userInitiated && userDriver_)
            userDriver_->showUpToDate(configuration_.currentVersion);
    }
}

void UpdaterController::setCanCheck(bool value)
{
    if (canCheck_ == value)
        return;
    canCheck_ = value;
    emit canCheckForUpdatesChanged(value);
}

void UpdaterController::armTimer()
{
    if (started_ && automaticallyChecksForUpdates())
        timer_.start(configuration_.checkInterval);
    else
        timer_.stop();
}

} // namespace pendrel
