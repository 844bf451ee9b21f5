#pragma once

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace pendrel::test {

// Passes TCP connections through to a service on 127.0.0.1. Cutting it is
// the network going away: new connections are refused and open ones break,
// while the service itself keeps running with its sessions intact.
class TcpRelay {
public:
    explicit TcpRelay(quint16 targetPort) : target_(targetPort)
    {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
        server_.listen(QHostAddress::LocalHost, 0);
        port_ = server_.serverPort();
    }
    [[nodiscard]] QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

    void cut()
    {
        server_.close();
        for (const QPointer<QTcpSocket> &socket : std::as_const(open_)) {
            if (socket)
                socket->abort();
        }
        open_.clear();
    }
    bool restore() { return server_.listen(QHostAddress::LocalHost, port_); }

private:
    void accept()
    {
        while (QTcpSocket *in = server_.nextPendingConnection()) {
            auto *out = new QTcpSocket(in);
            open_ << in << out;
            const auto pass = [](QTcpSocket *from, QTcpSocket *to) {
                QObject::connect(from, &QTcpSocket::readyRead, to, [from, to] {
                    if (to->state() == QAbstractSocket::ConnectedState)
                        to->write(from->readAll());
                });
                QObject::connect(from, &QTcpSocket::disconnected, to, [to] { to->disconnectFromHost(); });
            };
            pass(in, out);
            pass(out, in);
            // What the client sent before the service side was up.
            QObject::connect(out, &QTcpSocket::connected, in, [in, out] { out->write(in->readAll()); });
            QObject::connect(out, &QTcpSocket::errorOccurred, in, [in] { in->abort(); });
            QObject::connect(in, &QTcpSocket::disconnected, in, &QObject::deleteLater);
            out->connectToHost(QHostAddress::LocalHost, target_);
        }
    }

    QTcpServer server_;
    quint16 target_;
    quint16 port_ = 0;
    QList<QPointer<QTcpSocket>> open_;
};

} // namespace pendrel::test
