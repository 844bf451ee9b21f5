#include "state/PersistedStateEncoder.h"

#include "support/JsonWrite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>
#include <utility>

namespace pendrel {

PersistedStateEncoder::HeldFile::HeldFile(int descriptor, const FileIdentity &seen)
    : fd(descriptor), identity(seen.known() ? seen : FileIdentity::of(descriptor))
{
}

bool PersistedStateEncoder::HeldFile::intact() const
{
    return identity.known() && FileIdentity::of(fd) == identity;
}

PersistedStateEncoder::HeldFile::~HeldFile()
{
    if (fd >= 0)
        ::close(fd);
}

QList<FilePiece> PersistedStateEncoder::encode(const PersistedState &state)
{
    const JsonDates dates = JsonDates::iso8601();
    // Jobs that are gone drop out; the kept entries are copies that share
    // their data with the old ones.
    QHash<QUuid, Entry> entries;
    entries.reserve(state.jobs.size());
    QList<QByteArray> elements;
    elements.reserve(state.jobs.size());
    QList<FilePiece> held; // per job: its bytes in the file last written, if there
    held.reserve(state.jobs.size());
    lastEncodedJobs_ = 0;
    // A file edited in place under us no longer holds the jobs' bytes.
    QHash<const HeldFile *, bool> intact;
    const auto usable = [&intact](const Entry &entry) {
        if (!entry.file)
            return true;
        auto it = intact.find(entry.file.get());
        if (it == intact.end())
            it = intact.insert(entry.file.get(), entry.file->intact());
        return *it;
    };
    for (const JobRecord &job : state.jobs) {
        const auto known = entries_.constFind(job.id);
        Entry entry;
        if (known != entries_.constEnd() && known->job == job && usable(*known)
            && (known->checked || writtenAlike(*known))) {
            entry = *known;
            entry.checked = true;
        } else {
            // The depth of a job in the document: root, "jobs", element.
            entry.job = job;
            entry.text = json::writeSortedAt(job.toJson(dates), 2);
            ++lastEncodedJobs_;
        }
        elements.append(entry.text); // empty for a job held in a file: its place is taken below
        held.append(entry.file
                        ? FilePiece{{}, entry.file->fd, entry.offset, entry.length, entry.file->identity}
                        : FilePiece{});
        entries.insert(job.id, std::move(entry));
    }
    const PersistedState rest{state.settings, state.pendingClip, {}};
    const QList<QByteArray> text =
        json::writeSortedPieces(rest.toJson(dates), QLatin1StringView("jobs"), elements);

    QList<FilePiece> pieces;
    pieces.reserve(text.size());
    qint64 at = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        FilePiece piece{text.at(i)};
        if (i % 2 == 1 && i / 2 < state.jobs.size()) {
            if (held.at(i / 2).fd >= 0)
                piece = held.at(i / 2);
            entries[state.jobs.at(i / 2).id].nextOffset =
                at; // a repeated id: the last one's entry, the last one's place
        }
        at += piece.size();
        pieces.append(std::move(piece));
    }
    entries_ = std::move(entries);
    return pieces;
}

void PersistedStateEncoder::seed(int fd, const QList<JobRecord> &jobs, const QList<Place> &places,
                                 const FileIdentity &read)
{
    const auto file = std::make_shared<HeldFile>(fd, read);
    entries_.clear();
    if (jobs.size() != places.size())
        return;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        Entry entry;
        entry.job = jobs.at(i);
        entry.file = file;
        entry.offset = places.at(i).offset;
        entry.length = places.at(i).length;
        entry.checked = false;
        entry.longTexts = places.at(i).longTexts;
        entry.longTextsInWritersForm = places.at(i).longTextsInWritersForm;
        entries_.insert(entry.job.id, std::move(entry));
    }
}

namespace {

// The end of a string's text that starts at `at` (the closing quote), when
// it is written as the writer writes strings: only '"', '\\', '/' and control
// characters escaped, each the one way the writer escapes it. Its UTF-8 was
// checked when the file was read.
qsizetype writerStringEnd(const QByteArray &bytes, qsizetype at)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 high = 0x8080808080808080ULL;
    const auto zero = [](quint64 v) { return (v - ones) & ~v & high; };
    const char *data = bytes.constData();
    const qsizetype end = bytes.size();
    while (at < end) {
        if (end - at >= 8) {
            quint64 v;
            std::memcpy(&v, data + at, 8);
            // '"', '\\', '/', and bytes below 0x20 (high bit clear after subtracting 0x20 with a borrow)
            const quint64 stops = zero(v ^ (ones * '"')) | zero(v ^ (ones * '\\')) | zero(v ^ (ones * '/'))
                                  | ((v - ones * 0x20) & ~v & high);
            if (stops == 0) {
                at += 8;
                continue;
            }
        }
        const auto c = uchar(data[at]);
        if (c == '"')
            return at;
        if (c < 0x20 || c == '/')
            return -1;
        if (c != '\\') {
            ++at;
            continue;
        }
        const qsizetype n = json::writersEscapeLength(QByteArrayView(data + at, end - at));
        if (n == 0)
            return -1;
        at += n;
    }
    return -1;
}

} // namespace

bool PersistedStateEncoder::writtenAlike(const Entry &entry)
{
    // The job written with a mark in place of each long text; the rest must
    // be the file's bytes exactly, and each text there in the writer's form.
    JobRecord bare = entry.job;
    QList<QByteArray> marks;
    const auto mark = [&marks](JobText &text) {
        const QString m = QStringLiteral("\uFDD0\uFDD1%1\uFDD0").arg(marks.size());
        marks.append('"' + m.toUtf8() + '"');
        text = m;
    };
    mark(bare.clip.text);
    for (std::optional<JobText> *t : {&bare.sourceText, &bare.contentAfterIllustrations,
                                      &bare.contentAfterHumanize, &bare.finalContent}) {
        if (*t)
            mark(**t);
    }
    if (bare.transformResult)
        mark(bare.transformResult->transformedContent);
    // The log lines, up to hundreds a job, are written straight rather than
    // as JSON values, into the place of an empty array. A job's members are
    // at depth 3, and a string never holds a raw line break: the place is
    // the one line with the name at that indent.
    const JsonDates dates = JsonDates::iso8601();
    const QList<JobLogEntry> logs = std::exchange(bare.logs, {});
    QByteArray text = json::writeSortedAt(bare.toJson(dates), 2);
    static const QByteArray noLogs = "\n      \"logs\" : []";
    const qsizetype logsAt = text.indexOf(noLogs);
    if (logsAt < 0 || text.indexOf(noLogs, logsAt + 1) >= 0)
        return false;
    text.replace(logsAt + noLogs.size() - 2, 2, JobLogEntry::writeSortedAt(logs, dates, 3));
    QList<std::pair<qsizetype, qsizetype>> at; // each mark's place and size in `text`
    for (const QByteArray &m : marks) {
        const qsizetype found = text.indexOf(m);
        if (found < 0 || text.indexOf(m, found + 1) >= 0)
            return false;
        at.append({found, m.size()});
    }
    std::sort(at.begin(), at.end());
    if (entry.longTextsInWritersForm)
        return sameAround(entry, text, at);

    QByteArray bytes(qsizetype(entry.length), Qt::Uninitialized);
    qint64 got = 0;
    while (got < entry.length) {
        const ssize_t n =
            ::pread(entry.file->fd, bytes.data() + got, size_t(entry.length - got), entry.offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += n;
    }
    qsizetype r = 0; // in the file's bytes
    qsizetype s = 0; // in `text`
    const auto same = [&](qsizetype n) {
        if (bytes.size() - r < n || std::memcmp(bytes.constData() + r, text.constData() + s, size_t(n)) != 0)
            return false;
        r += n;
        s += n;
        return true;
    };
    for (const auto &[place, size] : at) {
        if (!same(place + 1 - s)) // up to and with the opening quote
            return false;
        r = writerStringEnd(bytes, r);
        if (r < 0)
            return false;
        s = place + size - 1; // the closing quotes meet
    }
    return same(text.size() - s) && r == bytes.size();
}

bool PersistedStateEncoder::sameAround(const Entry &entry, const QByteArray &text,
                                       const QList<std::pair<qsizetype, qsizetype>> &marks)
{
    // The long texts were found in the writer's form while the file was
    // read, and where they stand: only the bytes around them are read and
    // compared, each text's place taken by its mark.
    if (entry.longTexts.size() != marks.size())
        return false;
    QByteArray bytes;
    qint64 r = entry.offset; // in the file
    qsizetype s = 0;         // in `text`
    const auto same = [&](qint64 fileTo, qsizetype textTo) {
        const qint64 n = fileTo - r;
        if (n != textTo - s || n < 0)
            return false;
        bytes.resize(qsizetype(n));
        qint64 got = 0;
        while (got < n) {
            const ssize_t read = ::pread(entry.file->fd, bytes.data() + got, size_t(n - got), r + got);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                return false;
            got += read;
        }
        if (std::memcmp(bytes.constData(), text.constData() + s, size_t(n)) != 0)
            return false;
        r = fileTo;
        s = textTo;
        return true;
    };
    for (qsizetype k = 0; k < marks.size(); ++k) {
        const auto [place, size] = marks.at(k);
        const auto [body, length] = entry.longTexts.at(k);
        if (!same(body, place + 1)) // up to and with the opening quote
            return false;
        r = body + length; // the closing quotes meet
        s = place + size - 1;
    }
    return same(entry.offset + entry.length, text.size());
}

void PersistedStateEncoder::written(int fd)
{
    const auto file = std::make_shared<HeldFile>(fd);
    for (Entry &entry : entries_) {
        if (!entry.file)
            entry.length = entry.text.size();
        entry.text = QByteArray();
        entry.file = file;
        entry.offset = entry.nextOffset;
        entry.checked = true;
    }
}

} // namespace pendrel
