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
    enum class Claim {
        claimed,        // this process is the one
        anotherRuns,    // another copy holds the lock and has been asked to show its panel
        folderUnusable, // the lock cannot be made at all; see folderProblem()
    };

    // `lockFolder` holds the lock (the state folder); `serviceName` is the
    // bus name (the bundle identifier).
    SingleInstance(QString lockFolder, QString serviceName,
                   QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    Claim claim();

    [[nodiscard]] const QString &lockFolder() const { return lockFolder_; }
    // Why the lock folder cannot be used (the system's reason), after
    // claim() answered folderUnusable.
    [[nodiscard]] const QString &folderProblem() const { return folderProblem_; }

public slots:
    Q_SCRIPTABLE void ShowPanel();

signals:
    void showPanelRequested();

private:
    void handOver();

    QString lockFolder_;
    QString serviceName_;
    QDBusConnection bus_;
    std::unique_ptr<QLockFile> lock_;
    QString folderProblem_;
};

} // namespace pendrel
