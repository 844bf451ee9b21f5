#pragma once

#include <QByteArray>
#include <QString>

#include <QCoroTask>

namespace pendrel {

// The outcome of one secret-store operation. notFound is told apart from
// every other failure; noBackend means no store answered at all; noAnswer,
// that the store is there but left the call unanswered for too long.
struct SecretResult {
    enum class Status { ok, notFound, failure, noBackend, noAnswer };
    Status status = Status::ok;
    QByteArray data;
    int code = 0;
    QString message;
};

// A store of secret items addressed by (service, account).
class SecretBackend {
public:
    virtual ~SecretBackend() = default;
    virtual QCoro::Task<SecretResult> read(QString service, QString account) = 0;
    virtual QCoro::Task<SecretResult> write(QString service, QString account, QByteArray data) = 0;
    virtual QCoro::Task<SecretResult> remove(QString service, QString account) = 0;
};

} // namespace pendrel
