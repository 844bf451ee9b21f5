// A notification server for the end-to-end tests: owns
// org.freedesktop.Notifications on the session bus, writes every Notify as
// one JSON line to the log file, and emits ActionInvoked when told to:
//   dbus-send --session --dest=org.freedesktop.Notifications --type=method_call
//     /control test.pendrel.NotificationControl.Invoke uint32:1 string:default
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Notifications(QString logPath) : log_(std::move(logPath)) {}

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion)
    {
        vendor = QStringLiteral("Pendrel tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake-notifications");
    }
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        const uint id = replacesId != 0 ? replacesId : ++lastId_;
        QJsonObject hintTexts;
        for (auto it = hints.begin(); it != hints.end(); ++it)
            hintTexts.insert(it.key(), it.value().toString());
        const QJsonObject line{{QStringLiteral("id"), qint64(id)},
                               {QStringLiteral("app"), appName},
                               {QStringLiteral("icon"), appIcon},
                               {QStringLiteral("summary"), summary},
                               {QStringLiteral("body"), body},
                               {QStringLiteral("actions"), QJsonArray::fromStringList(actions)},
                               {QStringLiteral("hints"), hintTexts},
                               {QStringLiteral("timeout"), timeout}};
        QFile file(log_);
        if (file.open(QIODevice::Append))
            file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
        return id;
    }
    void CloseNotification(uint id)
    {
        QDBusMessage closed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("NotificationClosed"));
        closed << id << 3u;
        QDBusConnection::sessionBus().send(closed);
    }

private:
    QString log_;
    uint lastId_ = 0;
};

class Control : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "test.pendrel.NotificationControl")

public slots:
    void Invoke(uint id, const QString &action)
    {
        QDBusMessage invoked = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                          QStringLiteral("org.freedesktop.Notifications"),
                                                          QStringLiteral("ActionInvoked"));
        invoked << id << action;
        QDBusConnection::sessionBus().send(invoked);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fake-notifications <log file>\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    Notifications notifications(QString::fromLocal8Bit(argv[1]));
    Control control;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                            QDBusConnection::ExportAllSlots)
        || !bus.registerObject(QStringLiteral("/control"), &control, QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "fake-notifications: cannot own org.freedesktop.Notifications\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake-notifications.moc"
