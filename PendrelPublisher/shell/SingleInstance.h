#pragma once

#include <QDBusConnection>
#include <QLockFile>
#include <QObject>

#include <memory>
#include <optional>

namespace pendrel {

// One running copy per build: a second launch asks the running one to show
// its panel (or to capture, for `--capture`) and ends, so two processes never
// run the same queue or write the same state file. The lock file decides;
// D-Bus carries the request.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.pendrel.publisher.Instance")

public:
    enum class Claim {
        claimed,        // this process is the one
        anotherRuns,    // another copy holds the lock and has been asked (see handOverProblem())
        folderUnusable, // the lock cannot be made at all; see folderProblem()
    };

    // What a second launch asks of the running copy.
    enum class Request { showPanel, capture };

    // `lockFolder` holds the lock (the state folder); `serviceName` is the
    // bus name (the bundle identifier). Without a bus, the session bus,
    // connected only when first used: the lock is decided before any
    // application object exists.
    SingleInstance(QString lockFolder, QString serviceName, std::optional<QDBusConnection> bus = std::nullopt,
                   QObject *parent = nullptr);

    // lock(), then publish() or handOver(request).
    Claim claim(Request request = Request::showPanel);
    // Only the lock file: needs no application object and no bus. After
    // claimed, publish(); after anotherRuns, handOver().
    Claim lock();
    // Answers later launches on the bus (needs the application object);
    // gives back `claim`.
    Claim publish(Claim claim);
    // Asks the running copy; see handOverProblem().
    void handOver(Request request);

    [[nodiscard]] const QString &lockFolder() const { return lockFolder_; }
    // Why the lock folder cannot be used (the system's reason), after
    // claim() answered folderUnusable.
    [[nodiscard]] const QString &folderProblem() const { return folderProblem_; }
    // Why the running copy could not be asked, after claim() answered
    // anotherRuns; empty when it was.
    [[nodiscard]] const QString &handOverProblem() const { return handOverProblem_; }

public slots:
    Q_SCRIPTABLE void ShowPanel();
    // What Super+Shift+S does: capture the clipboard.
    Q_SCRIPTABLE void Capture();

signals:
    void showPanelRequested();
    void captureRequested();

private:
    QDBusConnection &bus();

    QString lockFolder_;
    QString serviceName_;
    std::optional<QDBusConnection> bus_;
    std::unique_ptr<QLockFile> lock_;
    QString folderProblem_;
    QString handOverProblem_;
};

} // namespace pendrel
