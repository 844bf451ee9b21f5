// The state file on a real small file system (tmpfs, mounted by the test;
// skipped where mounting is not allowed): a full disk and a read-only file
// system make every save fail with the kernel's own error. Root ignores
// permission bits, so "cannot write" is a read-only remount here, not a
// chmod. After every step the file must be one whole snapshot, and no job
// may run twice across restarts.

#include "ui/PanelTexts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include "AppStateHarness.h"
#include "FileFaults.h"

#include <cerrno>
#include <stdexcept>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pendrel;
using namespace pendrel::test;

namespace {

enum class Fault { diskFull, readOnly };

// A tmpfs of `kib` KiB at `path` for the test's life.
class SmallFileSystem {
public:
    SmallFileSystem(const QString &path, int kib)
        : path_(path), options_(QByteArray("size=") + QByteArray::number(kib) + "k,mode=0755")
    {
        QDir().mkpath(path_);
        mounted_ = ::mount("tmpfs", name(), "tmpfs", 0, options_.constData()) == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount2(name(), MNT_DETACH);
    }
    [[nodiscard]] bool mounted() const { return mounted_; }

    // Makes every save fail the way `fault` does; a full disk keeps
    // `pagesLeft` pages free, so that a save gets part of its bytes out.
    bool block(Fault fault, int pagesLeft = 0)
    {
        if (fault == Fault::readOnly)
            return remount(MS_RDONLY);
        // Fills what is left, a page at a time, until the kernel says no.
        const QByteArray filler = QFile::encodeName(path_ + QStringLiteral("/filler"));
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            return false;
        const QByteArray page(4096, 'x');
        while (::write(fd, page.constData(), std::size_t(page.size())) > 0) {
        }
        const bool full = errno == ENOSPC;
        const off_t size = ::lseek(fd, 0, SEEK_END);
        const bool room = size >= pagesLeft * 4096 && ::ftruncate(fd, size - off_t(pagesLeft) * 4096) == 0;
        ::close(fd);
        return full && room;
    }
    bool unblock(Fault fault)
    {
        if (fault == Fault::readOnly)
            return remount(0);
        return QFile::remove(path_ + QStringLiteral("/filler"));
    }

private:
    const char *name() const { return encoded_ = QFile::encodeName(path_), encoded_.constData(); }
    bool remount(unsigned long flags)
    {
        return ::mount("tmpfs", name(), "tmpfs", MS_REMOUNT | flags, options_.constData()) == 0;
    }

    QString path_;
    QByteArray options_;
    mutable QByteArray encoded_;
    bool mounted_ = false;
};

// The harness with its state folder on a small file system and the store's
// log lines kept.
struct Fixture {
    AppStateHarness h;
    SmallFileSystem fs{h.dir.filePath(QStringLiteral("data")), 512};
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    std::shared_ptr<std::mutex> logMutex = std::make_shared<std::mutex>();

    Fixture() { attachLog(); }
    ~Fixture() { h.state.reset(); } // before the file system goes

    void attachLog()
    {
        h.state->persistenceStore().setLogSink([log = log, mutex = logMutex](const QString &line) {
            const std::lock_guard lock(*mutex);
            log->append(line);
        });
    }
    QStringList logLines() const
    {
        const std::lock_guard lock(*logMutex);
        return *log;
    }
    void restart()
    {
        h.create();
        attachLog();
        blockingWait(h.state->bootstrap());
    }
    QByteArray fileBytes() const
    {
        QFile file(h.state->persistenceStore().currentFilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Throws (QtTest reports it as a failure) unless the file is one whole
    // snapshot with nothing half-written beside it.
    PersistedState wholeFile() const
    {
        h.state->persistenceStore().waitForPendingSaves();
        const QFileInfo info(h.state->persistenceStore().currentFilePath());
        QStringList beside = info.absoluteDir().entryList(QDir::Files | QDir::Hidden);
        beside.removeOne(QStringLiteral("clipper-state.index")); // a cache, written whole or not at all
        if (beside != QStringList{info.fileName()})
            throw std::runtime_error(qPrintable(QStringLiteral("beside the state file: ") + beside.join(u' ')));
        return PersistedState::decode(fileBytes());
    }
    int requestsTo(const QString &path) const { return int(h.requestPaths().count(path)); }
    void retryNow() const { h.state->findChild<QTimer *>(QStringLiteral("saveRetryTimer"))->setInterval(1); }
};

int folderMode(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

const QString kPublish = QStringLiteral("/api/blog/save");

} // namespace

class TestStorageFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QTemporaryDir probe;
        SmallFileSystem fs(probe.filePath(QStringLiteral("fs")), 64);
        if (!fs.mounted())
            QSKIP("mounting a tmpfs is not allowed here");
    }

    void failedSaveKeepsTheLastWholeFile_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("pagesLeft");
        QTest::addColumn<int>("clipKiB");
        QTest::addColumn<QString>("reason");
        const QString full = QStringLiteral("No space left on device");
        // The file's last bytes sit in a write buffer until it is closed:
        // the space runs out at that last flush.
        QTest::newRow("disk full at the last flush") << Fault::diskFull << 2 << 10 << full;
        QTest::newRow("disk full in a large write") << Fault::diskFull << 2 << 200 << full;
        QTest::newRow("disk already full") << Fault::diskFull << 0 << 10 << full;
        QTest::newRow("read-only") << Fault::readOnly << 0 << 10 << QStringLiteral("Read-only file system");
    }

    // A save that cannot be written whole never replaces the file: the
    // last good snapshot stays, the reason is logged once and shown in the
    // panel, the state in memory is kept and written once saving works.
    void failedSaveKeepsTheLastWholeFile()
    {
        QFETCH(Fault, fault);
        QFETCH(int, pagesLeft);
        QFETCH(int, clipKiB);
        QFETCH(QString, reason);
        Fixture f;
        f.h.startSignedIn();
        f.h.sendText(QStringLiteral("The first article"));
        QVERIFY(f.h.waitUntilIdle());
        f.h.state->persistenceStore().waitForPendingSaves();
        const QByteArray before = f.fileBytes();
        QCOMPARE(f.wholeFile().jobs.size(), 1);

        QVERIFY(f.fs.block(fault, pagesLeft));
        // A clip larger than the room left.
        f.h.clipboard.text = QString(clipKiB * 1024, u'a');
        f.h.state->captureClipboard(false);
        for (int change = 0; change < 3; ++change) {
            ClipperSettings settings = f.h.state->settings();
            settings.authorName = QStringLiteral("Ada %1").arg(change);
            f.h.state->setSettings(settings);
            f.h.state->persistenceStore().waitForPendingSaves();
            QCOMPARE(f.fileBytes(), before);
            QCOMPARE(f.wholeFile().jobs.size(), 1);
        }
        QTRY_VERIFY(f.h.state->stateSaveError());
        QCOMPARE(*f.h.state->stateSaveError(), reason);
        const QStringList lines = f.logLines();
        QCOMPARE(lines, QStringList{QStringLiteral("PersistenceStore save failed: ") + reason});
        QVERIFY(PanelTexts::headerSubtitle(*f.h.state).contains(reason));
        QVERIFY(f.h.state->pendingClip());
        QCOMPARE(f.h.state->settings().authorName, QStringLiteral("Ada 2"));

        // Nothing changes now; the timer alone writes what waits.
        QVERIFY(f.fs.unblock(fault));
        f.retryNow();
        QTRY_VERIFY(!f.h.state->stateSaveError());
        f.h.state->persistenceStore().waitForPendingSaves();
        const PersistedState after = f.wholeFile();
        QCOMPARE(after.settings.authorName, QStringLiteral("Ada 2"));
        QVERIFY(after.pendingClip);
        QVERIFY(!PanelTexts::headerSubtitle(*f.h.state).contains(reason));

        // The index written beside that save is only a cache: where the next
        // save needs its room, it goes, and the save goes through.
        const QString index = QFileInfo(f.h.state->persistenceStore().currentFilePath()).absolutePath()
                              + QStringLiteral("/clipper-state.index");
        QTRY_VERIFY(QFileInfo(index).size() > clipKiB * 1024);
        ClipperSettings settings = f.h.state->settings();
        settings.authorName = QStringLiteral("Ada 3");
        f.h.state->setSettings(settings);
        QTRY_COMPARE(f.wholeFile().settings.authorName, QStringLiteral("Ada 3"));
        QVERIFY(!f.h.state->stateSaveError());

        f.restart();
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.h.state->settings().authorName, QStringLiteral("Ada 3"));
        QCOMPARE(f.h.state->jobs().size(), 1);
        QCOMPARE(f.requestsTo(kPublish), 1);
    }

    void noJobStartsWhileItsStartCannotBeRecorded_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("disk full") << Fault::diskFull;
        QTest::newRow("read-only") << Fault::readOnly;
    }

    // The queue holds with the job queued while no save goes through, says
    // why, resumes by itself once one does, and the job is published once
    // across restarts. Quitting meanwhile says the changes were not saved.
    void noJobStartsWhileItsStartCannotBeRecorded()
    {
        QFETCH(Fault, fault);
        Fixture f;
        f.h.startSignedIn();
        f.h.state->persistenceStore().waitForPendingSaves();
        QVERIFY(f.fs.block(fault));
        f.h.sendText(QString(100 * 1024, u'b'));
        QTRY_VERIFY(f.h.state->stateSaveError());
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.h.state->jobs().size(), 1);
        QCOMPARE(f.h.state->jobs().first().status, JobStatus::submitted);
        QCOMPARE(f.requestsTo(kPublish), 0);
        QCOMPARE(f.requestsTo(QStringLiteral("/api/blog/admin/transform")), 0);
        QVERIFY(PanelTexts::headerSubtitle(*f.h.state).contains(QStringLiteral("Jobs wait")));
        QCOMPARE(f.wholeFile().jobs.size(), 0);

        // Another job sent meanwhile waits too.
        f.h.sendText(QStringLiteral("A second article"));
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.h.state->queuedCount(), 2);
        QCOMPARE(f.requestsTo(kPublish), 0);

        QVERIFY(f.fs.unblock(fault));
        f.retryNow();
        QTRY_VERIFY(!f.h.state->stateSaveError());
        QTRY_COMPARE(f.requestsTo(kPublish), 2);
        QVERIFY(f.h.waitUntilIdle());
        for (const JobRecord &job : f.h.state->jobs())
            QCOMPARE(job.status, JobStatus::success);

        // Blocked again, then a quit: the last changes are kept aside, and
        // the next start takes them.
        f.h.state->persistenceStore().waitForPendingSaves();
        QVERIFY(f.fs.block(fault));
        ClipperSettings settings = f.h.state->settings();
        settings.authorName = QStringLiteral("kept at quit");
        f.h.state->setSettings(settings);
        const auto log = f.log;
        f.h.state.reset();
        QVERIFY2(log->last().startsWith(
                     QStringLiteral("PersistenceStore could not save the latest changes before quitting ("))
                     && log->last().contains(QStringLiteral("they are kept in")),
                 qPrintable(log->last()));
        QVERIFY(f.fs.unblock(fault));

        f.restart();
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.h.state->settings().authorName, QStringLiteral("kept at quit"));
        QCOMPARE(f.wholeFile().settings.authorName, QStringLiteral("kept at quit"));
        QCOMPARE(f.h.state->jobs().size(), 2);
        for (const JobRecord &job : f.wholeFile().jobs)
            QCOMPARE(job.status, JobStatus::success);
        QCOMPARE(f.requestsTo(kPublish), 2);
    }

    void faultDuringARunHoldsTheNextStage_data()
    {
        QTest::addColumn<QString>("fullDuring");
        QTest::addColumn<QString>("nextStage");
        const QString analyze = QStringLiteral("/api/blog/admin/analyze");
        const QString transform = QStringLiteral("/api/blog/admin/transform");
        QTest::newRow("analysis") << analyze << transform;
        QTest::newRow("transformation") << transform << kPublish;
    }

    // The disk fills while a stage's request is out: its result cannot be
    // recorded, so the next stage (a paid call, or the publication) waits
    // for a save that works, and the article is published once.
    void faultDuringARunHoldsTheNextStage()
    {
        QFETCH(QString, fullDuring);
        QFETCH(QString, nextStage);
        Fixture f;
        f.h.startSignedIn();
        f.h.state->persistenceStore().waitForPendingSaves();
        bool blocked = false;
        f.h.service.onRequest = [&](const RecordedRequest &request) {
            if (request.path == fullDuring && !blocked) {
                // Once the save in flight is done: its temporary file would leave room.
                f.h.state->persistenceStore().waitForPendingSaves();
                blocked = f.fs.block(Fault::diskFull);
            }
        };
        // Longer than the room the index (a cache) gives up when a save fails.
        f.h.sendText(QStringLiteral("An article written while the disk fills. ").repeated(1000));
        QTRY_VERIFY(blocked && f.h.state->stateSaveError());
        // Another failed attempt after the run reached its wait: still waiting.
        QSignalSpy attempts(f.h.state.get(), &AppState::stateSaveFinished);
        f.h.state->persist();
        QVERIFY(attempts.wait());
        QTRY_COMPARE(f.requestsTo(fullDuring), 1);
        QCOMPARE(f.requestsTo(nextStage), 0);
        QCOMPARE(f.h.state->jobs().first().status, JobStatus::running);

        QVERIFY(f.fs.unblock(Fault::diskFull));
        f.retryNow();
        QTRY_COMPARE(f.h.state->jobs().first().status, JobStatus::success);
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.wholeFile().jobs.first().status, JobStatus::success);

        f.restart();
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.requestsTo(fullDuring), 1);
        QCOMPARE(f.requestsTo(kPublish), 1);
    }

    // The state file made immutable (chattr +i) while the transformation
    // is out: its result cannot be saved, and the program quits (the
    // shutdown a SIGTERM runs). With the attribute gone, the restarted
    // program takes the result from the fallback file: the transformation
    // is not sent, and charged, again.
    void paidResultOutlivesAQuitWhileSavingStopped()
    {
        Fixture f;
        f.h.startSignedIn();
        f.h.state->persistenceStore().waitForPendingSaves();
        const QString path = f.h.state->persistenceStore().currentFilePath();
        const QString fallback = f.h.state->persistenceStore().fallbackFilePath();
        const QString transform = QStringLiteral("/api/blog/admin/transform");
        bool tried = false;
        bool blocked = false;
        f.h.service.onRequest = [&](const RecordedRequest &request) {
            if (request.path == transform && !tried) {
                tried = true;
                blocked = setImmutable(path, true);
            }
        };
        f.h.sendText(QStringLiteral("An article whose transformation is paid for once"));
        QTRY_VERIFY(tried);
        if (!blocked)
            QSKIP("the file system does not take the immutable attribute");
        QTRY_VERIFY(f.h.state->stateSaveError());
        QTRY_COMPARE(f.requestsTo(transform), 1);
        QCOMPARE(f.requestsTo(kPublish), 0);

        f.h.state.reset();
        QVERIFY(setImmutable(path, false));
        QVERIFY(QFile::exists(fallback));
        QVERIFY(!f.logLines().isEmpty() && f.logLines().last().contains(fallback));
        f.restart();
        QVERIFY(f.h.waitUntilIdle());
        QCOMPARE(f.h.state->jobs().first().status, JobStatus::success);
        QCOMPARE(f.requestsTo(transform), 1);
        QCOMPARE(f.requestsTo(kPublish), 1);
        QCOMPARE(f.wholeFile().jobs.first().status, JobStatus::success);
        QVERIFY(!QFile::exists(fallback));
    }

    void dataFoldersAreTheOwnersOnly_data()
    {
        QTest::addColumn<bool>("madeBeforehand");
        QTest::newRow("made by the first save") << false;
        // The start-up's instance lock makes the folders with the default
        // mode before the state is read.
        QTest::newRow("made 0755 by another part") << true;
    }

    void dataFoldersAreTheOwnersOnly()
    {
        QFETCH(bool, madeBeforehand);
        const mode_t oldMask = ::umask(022);
        AppStateHarness h;
        const QString current = h.state->persistenceStore().currentFilePath();
        const QString bundleFolder = QFileInfo(current).absolutePath();
        const QString baseFolder = QFileInfo(bundleFolder).absolutePath();
        if (madeBeforehand)
            QVERIFY(QDir().mkpath(bundleFolder));
        h.startSignedIn();
        h.state->persistenceStore().waitForPendingSaves();
        ::umask(oldMask);
        QCOMPARE(folderMode(baseFolder), 0700);
        QCOMPARE(folderMode(bundleFolder), 0700);
        QCOMPARE(folderMode(current), 0600);
    }
};

QTEST_GUILESS_MAIN(TestStorageFaults)
#include "tst_storagefaults.moc"
