#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>

namespace pendrel::test {

// A D-Bus daemon of the test's own, so that services a test registers
// (a notification server, a running instance) meet no other test's.
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                      QStringLiteral("--print-address")});
        daemon_.waitForReadyRead(5000);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    QDBusConnection connect(const QString &name) const
    {
        return QDBusConnection::connectToBus(address_, name);
    }
    [[nodiscard]] bool ok() const { return !address_.isEmpty(); }
    [[nodiscard]] const QString &address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

} // namespace pendrel::test
