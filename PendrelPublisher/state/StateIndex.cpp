#include "state/StateIndex.h"

#include "support/Error.h"
#include "support/JsonParse.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pendrel::StateIndex {

namespace {

constexpr QByteArrayView kMagic = "pendrel-state-index 1";

// A job's long texts in the order they stand in its text (the writer's key
// order: "clip" with its "text", "contentAfterHumanize",
// "contentAfterIllustrations", "finalContent", "sourceText", then
// "transformResult" with its "transformedContent"); null where absent.
std::array<JobText *, 6> inFileOrder(JobRecord &job)
{
    const auto some = [](std::optional<JobText> &t) { return t ? &*t : nullptr; };
    return {&job.clip.text,
            some(job.contentAfterHumanize),
            some(job.contentAfterIllustrations),
            some(job.finalContent),
            some(job.sourceText),
            job.transformResult ? &job.transformResult->transformedContent : nullptr};
}

// One number of the table, and the space or line end after it.
bool number(const char *&at, const char *end, qint64 &value)
{
    quint64 read = 0;
    const char *start = at;
    while (at < end && *at >= '0' && *at <= '9' && at - start < 19) // nanoseconds since 1970 have 19
        read = read * 10 + quint64(*at++ - '0');
    if (at == start || at == end || (*at != ' ' && *at != '\n') || read > quint64(std::numeric_limits<qint64>::max()))
        return false;
    value = qint64(read);
    ++at;
    return true;
}

struct Descriptor {
    int fd = -1;
    explicit Descriptor(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int take() { return std::exchange(fd, -1); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

} // namespace

quint64 checksum(QByteArrayView bytes)
{
    constexpr quint64 kMultiplier = 0x9E3779B97F4A7C15ULL;
    quint64 sum = quint64(bytes.size()) * kMultiplier;
    const char *at = bytes.data();
    qsizetype left = bytes.size();
    for (; left >= 8; at += 8, left -= 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        sum = std::rotl(sum ^ word, 29) * kMultiplier;
    }
    quint64 tail = 0;
    std::memcpy(&tail, at, size_t(left));
    return std::rotl(sum ^ tail, 29) * kMultiplier ^ (sum >> 31);
}

quint64 combine(quint64 sum, quint64 next)
{
    return std::rotl(sum, 17) * 0xC2B2AE3D27D4EB4FULL ^ next;
}

QByteArray headerLine(const Header &h)
{
    return kMagic.toByteArray() + ' ' + QByteArray::number(h.stateFile.device) + ' '
           + QByteArray::number(h.stateFile.inode) + ' ' + QByteArray::number(h.stateFile.size) + ' '
           + QByteArray::number(h.stateFile.modified) + ' ' + QByteArray::number(h.stateFile.changed) + ' '
           + QByteArray::number(h.jobs) + ' ' + QByteArray::number(h.tableBytes) + ' '
           + QByteArray::number(h.restSum >> 1) + '\n'; // 63 bits: every number here fits a qint64
}

Pending::~Pending()
{
    if (fd >= 0)
        ::close(fd);
}

Loaded::Loaded(Loaded &&other) noexcept
    : state(std::move(other.state)), places(std::move(other.places)), stateFd(std::exchange(other.stateFd, -1)),
      indexFd(std::exchange(other.indexFd, -1)), indexIdentity(other.indexIdentity),
      pending(std::move(other.pending))
{
}

Loaded::~Loaded()
{
    if (stateFd >= 0)
        ::close(stateFd);
    if (indexFd >= 0)
        ::close(indexFd);
}

std::optional<Loaded> load(const QString &statePath, const QString &indexPath)
{
    Descriptor index(indexPath);
    if (index.fd < 0)
        return std::nullopt;
    Descriptor state(statePath);
    if (state.fd < 0)
        return std::nullopt;
    const FileIdentity stateIdentity = FileIdentity::of(state.fd);
    const FileIdentity indexIdentity = FileIdentity::of(index.fd);
    struct stat info {};
    if (!stateIdentity.known() || !indexIdentity.known() || ::fstat(state.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;

    // The index is small next to the state file; read whole.
    const qint64 indexSize = indexIdentity.size;
    if (indexSize <= kMagic.size() || indexSize > stateIdentity.size + (64 << 20))
        return std::nullopt;
    auto indexBytes = std::make_shared<QByteArray>(qsizetype(indexSize), Qt::Uninitialized);
    if (readFileStart(index.fd, indexBytes->data(), indexSize) != 0 || FileIdentity::of(index.fd) != indexIdentity)
        return std::nullopt;

    // The header: the state file it describes must be this one, as it is.
    const char *at = indexBytes->constData();
    const char *end = at + indexBytes->size();
    if (!QByteArrayView(at, end - at).startsWith(kMagic) || at[kMagic.size()] != ' ')
        return std::nullopt;
    at += kMagic.size() + 1;
    std::array<qint64, 8> h{};
    for (qint64 &value : h) {
        if (!number(at, end, value))
            return std::nullopt;
    }
    if (at[-1] != '\n')
        return std::nullopt;
    const FileIdentity described{quint64(h[0]), quint64(h[1]), h[2], h[3], h[4]};
    if (described != stateIdentity)
        return std::nullopt;
    const qint64 jobs = h[5];
    const qint64 tableBytes = h[6];
    const quint64 restSum = quint64(h[7]);
    const char *table = at;
    if (tableBytes > end - table || jobs > tableBytes)
        return std::nullopt;
    const char *outline = table + tableBytes;
    const qint64 outlineStart = outline - indexBytes->constData();

    Loaded loaded;
    loaded.pending = std::make_unique<Pending>();
    Pending &pending = *loaded.pending;
    pending.identity = stateIdentity;
    pending.gate = std::make_shared<JobTextGate>();
    // Allocated, not touched: the pages come as the bytes are read.
    pending.bytes = std::shared_ptr<char[]>(new char[size_t(std::max<qint64>(stateIdentity.size, 1))]);
    try {
        QList<PersistedState::JobPlace> where;
        QList<std::shared_ptr<JobText::Block>> unused; // their texts are borrowed from the state file below
        loaded.state = PersistedState::decode(QByteArray::fromRawData(outline, qsizetype(end - outline)), &where,
                                              indexBytes, &unused);
        if (loaded.state.jobs.size() != jobs || where.size() != jobs)
            return std::nullopt;
        const char *row = table;
        const char *tableEnd = outline;
        loaded.places.reserve(qsizetype(jobs));
        for (qsizetype i = 0; i < jobs; ++i) {
            JobRecord &job = loaded.state.jobs[i];
            qint64 offset = 0;
            qint64 length = 0;
            qint64 sum = 0;
            qint64 count = 0;
            if (!number(row, tableEnd, offset) || !number(row, tableEnd, length) || !number(row, tableEnd, sum)
                || !number(row, tableEnd, count))
                return std::nullopt;
            const std::array<JobText *, 6> texts = inFileOrder(job);
            const bool finished = !job.isWaiting();
            const auto present = std::count_if(texts.begin(), texts.end(), [](JobText *t) { return t; });
            if (count != present + (finished ? 1 : 0))
                return std::nullopt;
            PersistedStateEncoder::Place place;
            place.offset = offset;
            place.length = length;
            place.longTextsInWritersForm = true;
            place.outlineOffset = outlineStart + (where.at(i).bytes.data() - outline);
            place.outlineLength = where.at(i).bytes.size();
            place.outlineSum = checksum(where.at(i).bytes);
            if (place.outlineSum >> 1 != quint64(sum))
                return std::nullopt;
            QList<std::pair<JobText *, QByteArrayView>> bodies;
            qint64 textBytes = 0;
            qint64 last = offset;
            // In the file's order; the log lines stand after "finalContent".
            for (int k = 0; k < 7; ++k) {
                const bool logs = k == 4;
                JobText *text = logs ? nullptr : texts[k < 4 ? k : k - 1];
                if (logs ? !finished : !text)
                    continue;
                qint64 body = 0;
                qint64 size = 0;
                if (!number(row, tableEnd, body) || !number(row, tableEnd, size))
                    return std::nullopt;
                // In order, within the job, and within the file.
                if (body <= last || size < 0 || body + size >= offset + length || body + size >= stateIdentity.size)
                    return std::nullopt;
                last = body + size;
                textBytes += size;
                place.strings.append({body - 1 - offset, size + 2});
                if (logs) {
                    if (!job.logs.isEmpty()) // the outline holds "[]"
                        return std::nullopt;
                    std::shared_ptr<JobLogs::Source> source;
                    job.logs = JobLogs::borrowed(pending.bytes, QByteArrayView(pending.bytes.get() + body - 1, size + 2),
                                                 pending.gate, &source);
                    pending.logs.append(std::move(source));
                    continue;
                }
                place.longTexts.append({body, size});
                bodies.append({text, QByteArrayView(pending.bytes.get() + body, size)});
            }
            if (row[-1] != '\n' || offset < 0 || offset + length > stateIdentity.size
                || length != place.outlineLength + textBytes)
                return std::nullopt;
            if (!finished) {
                // A job still to run works on its texts: read them now (a few).
                for (const auto &[text, body] : std::as_const(bodies)) {
                    char *into = pending.bytes.get();
                    const qint64 from = body.data() - into;
                    if (readFileRange(state.fd, into, from, from + body.size()) != 0)
                        return std::nullopt;
                    *text = JobText(json::decodeStringBody(body));
                }
            } else {
                std::array<std::pair<JobText *, QByteArrayView>, 6> six{};
                std::copy(bodies.cbegin(), bodies.cend(), six.begin());
                pending.blocks.append(JobText::borrowTogether(
                    pending.bytes, {six[0], six[1], six[2], six[3], six[4], six[5]}, pending.gate));
            }
            loaded.places.append(std::move(place));
        }
        if (row != tableEnd)
            return std::nullopt;
        // The rest of the outline: the table, the settings and what stands
        // between the jobs.
        quint64 rest = checksum(QByteArrayView(table, tableBytes));
        const char *from = outline;
        for (const PersistedState::JobPlace &job : std::as_const(where)) {
            rest = combine(rest, checksum(QByteArrayView(from, job.bytes.data() - from)));
            from = job.bytes.data() + job.bytes.size();
        }
        rest = combine(rest, checksum(QByteArrayView(from, end - from)));
        if (rest >> 1 != restSum)
            return std::nullopt;
    } catch (const DecodingError &) {
        return std::nullopt;
    }
    // What the waiting jobs' texts were read from is still the file described.
    if (FileIdentity::of(state.fd) != stateIdentity)
        return std::nullopt;
    loaded.stateFd = state.take();
    pending.fd = ::fcntl(loaded.stateFd, F_DUPFD_CLOEXEC, 0);
    loaded.indexFd = index.take();
    loaded.indexIdentity = indexIdentity;
    if (pending.fd < 0)
        return std::nullopt;
    return loaded;
}

bool finishReading(Pending &pending)
{
    // The index was taken for exactly this file; its attributes set since
    // (the state folder made read-only, say) leave the bytes it describes.
    const bool good = pending.fd >= 0 && FileIdentity::of(pending.fd).sameBytesAs(pending.identity)
                      && readFileStart(pending.fd, pending.bytes.get(), pending.identity.size) == 0
                      && FileIdentity::of(pending.fd).sameBytesAs(pending.identity);
    pending.gate->open(good);
    return good;
}

} // namespace pendrel::StateIndex
