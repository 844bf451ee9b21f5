#pragma once

#include "DevStore.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSet>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace pendrel::dev {

struct DevOptions {
    quint16 port = 8787;
    QString dataFolder;
    int latencyMs = 0;
    qint64 tokenLifetimeSeconds = 3600;
    QString appcastVersion = QStringLiteral("1.0.0");
    // Path → status answered instead of the real answer ("--fail").
    QHash<QString, int> failures;
};

// What a handler answers.
struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;

    static Reply json(int status, const QJsonObject &object);
    static Reply error(int status, const QString &message, const QString &code = {});
    static Reply html(int status, const QString &page);
};

// The local content service: every endpoint the application uses, with
// deterministic answers, on 127.0.0.1 only.
class DevService : public QAbstractHttpServer {
    Q_OBJECT

public:
    explicit DevService(DevOptions options);

    // Listens on 127.0.0.1; false when the port is taken.
    bool start();
    [[nodiscard]] quint16 port() const { return port_; }
    [[nodiscard]] QString origin() const;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Call; // one request being served

    void startServing(const QHttpServerRequest &request, QTcpSocket *socket);
    QCoro::Task<void> serve(std::shared_ptr<Call> call, std::shared_ptr<QHttpServerResponder> responder,
                            QPointer<QTcpSocket> socket);
    QCoro::Task<Reply> dispatch(Call &call);
    void write(const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply);
    static void log(const Call &call, int status, qint64 ms);

    // Identity
    Reply signIn(Call &call);
    Reply startBrowserSession(Call &call);
    Reply pollBrowserSession(Call &call, const QString &id);
    Reply browserPage(Call &call, const QString &id);
    Reply completeBrowserSession(Call &call, const QString &id);
    // Workspace
    Reply tenants(Call &call);
    Reply domains(Call &call);
    Reply presets(Call &call);
    Reply tenantSettings(Call &call);
    Reply favorites(Call &call);
    Reply socialAccounts(Call &call);
    // Pipeline
    QCoro::Task<Reply> extract(Call &call);
    Reply analyze(Call &call);
    Reply transform(Call &call);
    Reply illustrations(Call &call);
    Reply humanize(Call &call);
    Reply save(Call &call);
    Reply voiceover(Call &call);
    Reply adaptation(Call &call);
    Reply publish(Call &call);
    Reply shopPublish(Call &call);
    // Pages
    Reply dashboard(Call &call, const QString &page);
    Reply appcast();
    Reply release(const QString &rest);
    Reply control(Call &call, const QString &what);

    // Charges the caller's tenant; a 402 reply when the balance is short.
    std::optional<Reply> charge(Call &call, qint64 credits);

    DevOptions options_;
    DevStore store_;
    QNetworkAccessManager network_;
    quint16 port_ = 0;
    QSet<QString> dropped_; // paths whose connections are closed without an answer

    // A misbehaviour for the next requests to a path ("/_dev/fault").
    enum class FaultKind { stall, malformed, wrongTypes, slow, serverError, lostAnswer };
    struct Fault {
        FaultKind kind;
        int remaining; // requests still affected; negative: until reset
    };
    QHash<QString, Fault> faults_;
    std::optional<FaultKind> takeFault(const QString &path);
    static void writeSlowly(QPointer<QTcpSocket> socket, const Reply &reply);
    QList<QPointer<QTcpSocket>> stalled_; // held open, never answered
};

} // namespace pendrel::dev
