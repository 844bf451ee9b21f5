#pragma once

#include <QDBusConnection>
#include <QLockFile>
#include <QObject>

#include <memory>

namespace pendrel {

// One running copy per build: a second launch asks the running one to show
// its panel and ends, so two processes never run the same queue or write
// the same state file. The lock file decides; D-Bus carries the request.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.pendrel.publisher.Instance")

public:
    // `lockFolder` holds the lock (the state folder); `serviceName` is the
    // bus name (the bundle identifier).
    SingleInstance(QString lockFolder, QString serviceName,
                   QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // True when this process is the one; false when another runs (which has
    // been asked to show its panel).
    bool claim();

public slots:
    Q_SCRIPTABLE void ShowPanel();

signals:
    void showPanelRequested();

private:
    QString lockFolder_;
    QString serviceName_;
    QDBusConnection bus_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace pendrel
