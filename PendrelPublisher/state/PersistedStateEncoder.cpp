#include "state/PersistedStateEncoder.h"

#include "state/StateIndex.h"

#include "support/JsonWrite.h"
#include "support/Uuid.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>
#include <utility>

namespace pendrel {

namespace {

// A job written straight, without Qt's JSON values: the same bytes as
// json::writeSortedAt(job.toJson(dates), depth), members in the writer's
// key order (listed here already sorted) and every string and number
// through the writer's own functions. A history's first save writes the
// rest of every job this way to compare it with the file just read.
class RecordWriter {
public:
    // With `longTexts`, the long texts are left empty ("") and each one's
    // place (its opening quote) and size (2) is added there, in order.
    // With `whole` as well, they are written, and each string's place and
    // size (quotes included) is added there.
    RecordWriter(QByteArray &out, const JsonDates &dates,
                 QList<std::pair<qsizetype, qsizetype>> *longTexts = nullptr, bool whole = false)
        : out_(out), dates_(dates), longTexts_(longTexts), whole_(whole)
    {
    }

    void job(const JobRecord &job, int depth)
    {
        Members m(*this, depth);
        m.key("aborted").boolean(job.aborted);
        m.key("acknowledged").boolean(job.acknowledged);
        if (job.articleID)
            m.key("articleID").string(*job.articleID);
        m.key("clip").clip(job.clip, depth + 1);
        if (job.contentAfterHumanize)
            m.key("contentAfterHumanize").longText(*job.contentAfterHumanize);
        if (job.contentAfterIllustrations)
            m.key("contentAfterIllustrations").longText(*job.contentAfterIllustrations);
        m.key("createdAt").date(job.createdAt);
        if (job.error)
            m.key("error").error(*job.error, depth + 1);
        if (job.finalContent)
            m.key("finalContent").longText(*job.finalContent);
        m.key("id").uuid(job.id);
        if (job.illustrationsMetadata)
            m.key("illustrationsMetadata").illustrations(*job.illustrationsMetadata, depth + 1);
        m.key("logs");
        const qsizetype logsFrom = out_.size();
        array(job.logs.lines(), depth + 1, &RecordWriter::logLine);
        if (logsAt_)
            *logsAt_ = {logsFrom, out_.size() - logsFrom};
        if (job.metadata)
            m.key("metadata").metadata(*job.metadata, depth + 1);
        m.key("notifiedSubmitted").boolean(job.notifiedSubmitted);
        m.key("notifiedSuccess").boolean(job.notifiedSuccess);
        m.key("processing").boolean(job.processing);
        if (job.result)
            m.key("result").result(*job.result, depth + 1);
        if (job.savedURL)
            m.key("savedURL").string(*job.savedURL);
        m.key("settingsSnapshot").settings(job.settingsSnapshot, depth + 1);
        m.key("socialPublishes").array(job.socialPublishes, depth + 1, &RecordWriter::publish);
        if (job.sourceText)
            m.key("sourceText").longText(*job.sourceText);
        if (job.sourceURL)
            m.key("sourceURL").string(*job.sourceURL);
        m.key("status").enumeration(job.status);
        if (job.step)
            m.key("step").enumeration(*job.step);
        if (job.title)
            m.key("title").string(*job.title);
        if (job.transformResult)
            m.key("transformResult").transform(*job.transformResult, depth + 1);
        m.key("updatedAt").date(job.updatedAt);
        m.key("voiceoverFailed").boolean(job.voiceoverFailed);
        m.key("voiceoverQueued").boolean(job.voiceoverQueued);
    }

private:
    // One object's members: the separators, indents and keys between them.
    class Members {
    public:
        Members(RecordWriter &w, int depth) : w_(w), depth_(depth) { w_.out_ += '{'; }
        ~Members()
        {
            if (first_) {
                w_.out_ += '}';
                return;
            }
            w_.out_ += '\n';
            w_.indent(depth_);
            w_.out_ += '}';
        }
        Members(const Members &) = delete;
        Members &operator=(const Members &) = delete;

        // Keys are the records' own ASCII names: nothing in them to escape.
        RecordWriter &key(const char *name)
        {
            w_.out_ += first_ ? "\n" : ",\n";
            first_ = false;
            w_.indent(depth_ + 1);
            w_.out_ += '"';
            w_.out_ += name;
            w_.out_ += "\" : ";
            return w_;
        }
        RecordWriter &key(const QString &name)
        {
            w_.out_ += first_ ? "\n" : ",\n";
            first_ = false;
            w_.indent(depth_ + 1);
            json::appendString(w_.out_, name);
            w_.out_ += " : ";
            return w_;
        }

    private:
        RecordWriter &w_;
        int depth_;
        bool first_ = true;
    };

    void indent(int depth) { out_.append(qsizetype(depth) * 2, ' '); }
    void boolean(bool value) { out_ += value ? "true" : "false"; }
    void string(const QString &text) { json::appendString(out_, text); }
    void longText(const JobText &text)
    {
        if (!longTexts_) {
            string(text.toString());
            return;
        }
        const qsizetype at = out_.size();
        if (whole_)
            string(text.toString());
        else
            out_ += "\"\"";
        longTexts_->append({at, out_.size() - at});
    }
    void number(const QJsonValue &value) { json::appendNumber(out_, value); }
    void date(const QDateTime &date)
    {
        if (dates_.style() == JsonDates::Style::iso8601) {
            if (!isoDate(date))
                string(JsonDates::formatIso8601(date)); // what encode() gives, without a JSON value
            return;
        }
        const QJsonValue value = dates_.encode(date);
        if (value.isString())
            string(value.toString());
        else
            number(value);
    }
    // formatIso8601()'s text for the years 1970 to 9999, straight from the
    // count of milliseconds: a long history has hundreds of thousands of
    // dates (its log lines'), and converting each through QDateTime's
    // calendar took most of a first save's check. False for any other.
    bool isoDate(const QDateTime &date)
    {
        if (!date.isValid())
            return false;
        const qint64 msecs = date.toMSecsSinceEpoch();
        constexpr qint64 kEnd = 253402300800000; // 10000-01-01T00:00:00Z
        if (msecs < 0 || msecs >= kEnd)
            return false;
        const qint64 seconds = msecs / 1000;
        qint64 days = seconds / 86400;
        const int inDay = int(seconds % 86400);
        // Days to a civil date (H. Hinnant's algorithm), from 0000-03-01.
        days += 719468;
        const qint64 era = days / 146097;
        const auto dayOfEra = unsigned(days - era * 146097);
        const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const unsigned mp = (5 * dayOfYear + 2) / 153;
        const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
        const unsigned month = mp < 10 ? mp + 3 : mp - 9;
        const auto year = unsigned(qint64(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0));
        char text[22];
        const auto put = [&text](int at, unsigned value, int digits) {
            for (int i = digits - 1; i >= 0; --i, value /= 10)
                text[at + i] = char('0' + value % 10);
        };
        text[0] = '"';
        put(1, year, 4);
        text[5] = '-';
        put(6, month, 2);
        text[8] = '-';
        put(9, day, 2);
        text[11] = 'T';
        put(12, unsigned(inDay / 3600), 2);
        text[14] = ':';
        put(15, unsigned(inDay / 60 % 60), 2);
        text[17] = ':';
        put(18, unsigned(inDay % 60), 2);
        text[20] = 'Z';
        text[21] = '"';
        out_.append(text, 22);
        return true;
    }

    // Enumeration strings are plain identifiers: nothing to escape.
    template <class E>
    void enumeration(E value)
    {
        for (const auto &[caseValue, text] : EnumStrings<E>::values) {
            if (caseValue == value) {
                out_ += '"';
                out_ += text;
                out_ += '"';
                return;
            }
        }
        string(enumString(value));
    }
    // uuidString()'s text: upper-case hex, no braces.
    void uuid(const QUuid &id)
    {
        static constexpr char hex[] = "0123456789ABCDEF";
        char text[38];
        int at = 0;
        text[at++] = '"';
        const auto put = [&](quint64 value, int digits) {
            for (int i = digits - 1; i >= 0; --i)
                text[at + i] = hex[(value >> (4 * (digits - 1 - i))) & 0xF];
            at += digits;
        };
        put(id.data1, 8);
        text[at++] = '-';
        put(id.data2, 4);
        text[at++] = '-';
        put(id.data3, 4);
        text[at++] = '-';
        put(quint64(id.data4[0]) << 8 | id.data4[1], 4);
        text[at++] = '-';
        quint64 node = 0;
        for (int i = 2; i < 8; ++i)
            node = node << 8 | id.data4[i];
        put(node, 12);
        text[at++] = '"';
        out_.append(text, at);
    }

    void logLine(const JobLogEntry &line, int depth)
    {
        Members m(*this, depth);
        m.key("id").uuid(line.id);
        m.key("level").enumeration(line.level);
        m.key("message").string(line.message);
        m.key("timestamp").date(line.timestamp);
    }

    template <class T>
    void array(const QList<T> &items, int depth, void (RecordWriter::*element)(const T &, int))
    {
        if (items.isEmpty()) {
            out_ += "[]";
            return;
        }
        out_ += "[\n";
        for (qsizetype i = 0; i < items.size(); ++i) {
            indent(depth + 1);
            (this->*element)(items.at(i), depth + 1);
            out_ += i + 1 < items.size() ? ",\n" : "\n";
        }
        indent(depth);
        out_ += ']';
    }
    void stringElement(const QString &text, int) { string(text); }
    void strings(const QStringList &items, int depth) { array(items, depth, &RecordWriter::stringElement); }

    void clip(const ClipPayload &c, int depth)
    {
        Members m(*this, depth);
        if (c.author)
            m.key("author").string(*c.author);
        m.key("createdAt").date(c.createdAt);
        m.key("id").uuid(c.id);
        m.key("text").longText(c.text);
        m.key("title").string(c.title);
        m.key("type").enumeration(c.type);
        m.key("url").string(c.url);
    }

    void settings(const ClipperSettings &s, int depth)
    {
        Members m(*this, depth);
        m.key("articleSize").enumeration(s.articleSize);
        m.key("authorID").string(s.authorID);
        m.key("authorName").string(s.authorName);
        m.key("autoSend").boolean(s.autoSend);
        {
            const CompetitionOptions &c = s.competitionOptions;
            Members o(m.key("competitionOptions"), depth + 1);
            o.key("contentStrategies").boolean(c.contentStrategies);
            o.key("gapAnalysis").boolean(c.gapAnalysis);
            o.key("pricingMentions").boolean(c.pricingMentions);
            o.key("serpFeatures").boolean(c.serpFeatures);
            o.key("useSerpBasedDiscovery").boolean(c.useSerpBasedDiscovery);
            o.key("winningTitles").boolean(c.winningTitles);
        }
        m.key("enableAudio").boolean(s.enableAudio);
        m.key("enableCompetition").boolean(s.enableCompetition);
        m.key("enableHumanize").boolean(s.enableHumanize);
        m.key("enableImages").boolean(s.enableImages);
        m.key("imagesCount").number(QJsonValue(s.imagesCount));
        m.key("language").string(s.language);
        m.key("linksPresetID").string(s.linksPresetID);
        m.key("seoStandardMode").enumeration(s.seoStandardMode);
        m.key("socialCrosspostPreferences").array(s.socialCrosspostPreferences, depth + 1, &RecordWriter::preference);
        m.key("targetDomain").string(s.targetDomain);
    }

    void preference(const SocialCrosspostPreference &p, int depth)
    {
        Members m(*this, depth);
        m.key("accountId").string(p.accountId);
        m.key("accountName").string(p.accountName);
        if (p.defaultSubreddit)
            m.key("defaultSubreddit").string(*p.defaultSubreddit);
        m.key("enabled").boolean(p.enabled);
        m.key("mode").enumeration(p.mode);
        m.key("platform").enumeration(p.platform);
        if (p.selectedBlogId)
            m.key("selectedBlogId").number(QJsonValue(*p.selectedBlogId));
        if (p.selectedBlogTitle)
            m.key("selectedBlogTitle").string(*p.selectedBlogTitle);
    }

    void publish(const JobSocialPublishResult &p, int depth)
    {
        Members m(*this, depth);
        m.key("accountId").string(p.accountId);
        m.key("accountName").string(p.accountName);
        if (p.adaptationId)
            m.key("adaptationId").string(*p.adaptationId);
        if (p.errorMessage)
            m.key("errorMessage").string(*p.errorMessage);
        m.key("mode").enumeration(p.mode);
        m.key("platform").enumeration(p.platform);
        if (p.postId)
            m.key("postId").string(*p.postId);
        m.key("status").enumeration(p.status);
    }

    void result(const JobResult &r, int depth)
    {
        Members m(*this, depth);
        m.key("articleID").string(r.articleID);
        m.key("title").string(r.title);
        if (r.url)
            m.key("url").string(*r.url);
    }

    void error(const JobErrorInfo &e, int depth)
    {
        Members m(*this, depth);
        if (e.code)
            m.key("code").string(*e.code);
        m.key("message").string(e.message);
        if (e.status)
            m.key("status").number(QJsonValue(*e.status));
    }

    void metadata(const ContentMetadata &c, int depth)
    {
        Members m(*this, depth);
        m.key("age").strings(c.age, depth + 1);
        m.key("categories").strings(c.categories, depth + 1);
        m.key("problems").strings(c.problems, depth + 1);
    }

    void transform(const TransformResult &t, int depth)
    {
        Members m(*this, depth);
        m.key("citations").strings(t.citations, depth + 1);
        if (t.qualityScore)
            m.key("qualityScore").number(QJsonValue(*t.qualityScore));
        {
            // The map's order is UTF-16's; the writer's is code points'.
            QStringList keys = t.seoMeta.keys();
            if (!std::is_sorted(keys.begin(), keys.end(), json::keyLess))
                std::sort(keys.begin(), keys.end(), json::keyLess);
            Members o(m.key("seoMeta"), depth + 1);
            for (const QString &k : std::as_const(keys))
                o.key(k).string(t.seoMeta.value(k));
        }
        if (t.seoScore)
            m.key("seoScore").number(QJsonValue(*t.seoScore));
        m.key("talentIntegrations").strings(t.talentIntegrations, depth + 1);
        m.key("transformedContent").longText(t.transformedContent);
    }

    void asset(const IllustrationAsset &a, int depth)
    {
        Members m(*this, depth);
        m.key("id").uuid(a.id);
        m.key("url").string(a.url);
    }

    void illustrations(const IllustrationMetadata &i, int depth)
    {
        Members m(*this, depth);
        m.key("assets").array(i.assets, depth + 1, &RecordWriter::asset);
        m.key("generatedAt").date(i.generatedAt);
        if (i.generationID)
            m.key("generationID").string(*i.generationID);
        if (i.provider)
            m.key("provider").string(*i.provider);
        if (i.style)
            m.key("style").string(*i.style);
    }

    QByteArray &out_;
    const JsonDates &dates_;
    QList<std::pair<qsizetype, qsizetype>> *longTexts_;
    bool whole_;

public:
    std::pair<qsizetype, qsizetype> *logsAt_ = nullptr; // the log lines' array: its place and size
};

// A finished job's log lines are left out of its outline too: a long
// history's hundred thousand lines are most of what reading the index would
// otherwise cost. (A job still to run keeps them: it works on them at once.)
void insertCut(QList<std::pair<qint64, qint64>> &cuts, std::pair<qint64, qint64> cut)
{
    const auto at = std::lower_bound(cuts.begin(), cuts.end(), cut);
    cuts.insert(at, cut);
}

// The job's text with what `strings` names (each a string or an array, in
// order) left empty.
QByteArray outline(const QByteArray &text, const QList<std::pair<qint64, qint64>> &strings)
{
    QByteArray out;
    qint64 size = text.size();
    for (const auto &[at, length] : strings)
        size -= length - 2;
    out.reserve(qsizetype(size));
    qint64 from = 0;
    for (const auto &[at, length] : strings) {
        out.append(text.constData() + from, qsizetype(at + 1 - from)); // up to and with the opening quote
        from = at + length - 1;                                         // the closing quote
    }
    out.append(text.constData() + from, qsizetype(text.size() - from));
    return out;
}

} // namespace

QByteArray PersistedStateEncoder::writeJob(const JobRecord &job, int depth,
                                           QList<std::pair<qsizetype, qsizetype>> *longTexts,
                                           std::pair<qsizetype, qsizetype> *logsAt)
{
    QByteArray out;
    out.reserve(longTexts ? 16 * 1024 : 64 * 1024);
    const JsonDates dates = JsonDates::iso8601();
    RecordWriter writer(out, dates, longTexts);
    writer.logsAt_ = logsAt;
    writer.job(job, depth);
    return out;
}

QByteArray PersistedStateEncoder::writeJobNoting(const JobRecord &job, int depth,
                                                 QList<std::pair<qint64, qint64>> &cuts)
{
    QByteArray out;
    out.reserve(64 * 1024);
    const JsonDates dates = JsonDates::iso8601();
    QList<std::pair<qsizetype, qsizetype>> at;
    std::pair<qsizetype, qsizetype> logs;
    RecordWriter writer(out, dates, &at, true);
    writer.logsAt_ = &logs;
    writer.job(job, depth);
    cuts.clear();
    for (const auto &[place, size] : at)
        cuts.append({place, size});
    if (!job.isWaiting())
        insertCut(cuts, {logs.first, logs.second});
    return out;
}

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
        const auto known = entries_.find(job.id);
        Entry entry;
        if (known != entries_.end() && known->job == job && usable(*known)
            && (known->checked || writtenAlike(*known))) {
            entry = *known;
            entry.checked = true;
        } else {
            // The depth of a job in the document: root, "jobs", element.
            entry.job = job;
            entry.text = writeJobNoting(job, 2, entry.strings);
            entry.skeleton = outline(entry.text, entry.strings);
            entry.skeletonSum = StateIndex::checksum(entry.skeleton);
            entry.outlined = true;
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
    order_.clear();
    order_.reserve(state.jobs.size());
    for (const JobRecord &job : state.jobs)
        order_.append(job.id);
    rest_ = rest;
    indexable_ = false;

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
                                 const FileIdentity &read, int indexFd, const FileIdentity &indexRead)
{
    const auto file = std::make_shared<HeldFile>(fd, read);
    const std::shared_ptr<HeldFile> index = indexFd >= 0 ? std::make_shared<HeldFile>(indexFd, indexRead) : nullptr;
    entries_.clear();
    order_.clear();
    if (jobs.size() != places.size())
        return;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const Place &place = places.at(i);
        Entry entry;
        entry.job = jobs.at(i);
        entry.file = file;
        entry.offset = place.offset;
        entry.length = place.length;
        entry.checked = false;
        entry.longTexts = place.longTexts;
        entry.longTextsInWritersForm = place.longTextsInWritersForm;
        if (index && place.outlineOffset >= 0) {
            // Written by us as its record encodes, the file unchanged since.
            entry.checked = true;
            entry.outlined = true;
            entry.skeletonFile = index;
            entry.skeletonOffset = place.outlineOffset;
            entry.skeletonLength = place.outlineLength;
            entry.skeletonSum = place.outlineSum;
            entry.strings = place.strings;
        }
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

bool PersistedStateEncoder::writtenAlike(Entry &entry)
{
    // The job written with each long text left empty; the rest must be the
    // file's bytes exactly, and each text there in the writer's form.
    QList<std::pair<qsizetype, qsizetype>> at; // each long text's place and size in `text`
    std::pair<qsizetype, qsizetype> logsAt;
    const QByteArray text = writeJob(entry.job, 2, &at, &logsAt);
    QList<std::pair<qint64, qint64>> strings; // in the file's text of the job
    const auto outlined = [&] {
        entry.skeleton = text;
        if (!entry.job.isWaiting()) {
            // The log lines' place in the file's text: past the long texts before them.
            qint64 shift = 0;
            for (qsizetype k = 0; k < at.size() && at.at(k).first < logsAt.first; ++k)
                shift += strings.at(k).second - 2;
            entry.skeleton = outline(text, {{logsAt.first, logsAt.second}});
            insertCut(strings, {logsAt.first + shift, logsAt.second});
        }
        entry.strings = std::move(strings);
        entry.skeletonSum = StateIndex::checksum(entry.skeleton);
        entry.outlined = true;
        return true;
    };
    if (entry.longTextsInWritersForm) {
        if (!sameAround(entry, text, at))
            return false;
        for (const auto &[body, length] : std::as_const(entry.longTexts))
            strings.append({body - 1 - entry.offset, length + 2});
        return outlined();
    }

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
        const qsizetype open = r - 1;
        r = writerStringEnd(bytes, r);
        if (r < 0)
            return false;
        strings.append({open, r + 1 - open});
        s = place + size - 1; // the closing quotes meet
    }
    return same(text.size() - s) && r == bytes.size() && outlined();
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
    written_ = file->identity;
    indexable_ = true;
}

QList<FilePiece> PersistedStateEncoder::indexPieces()
{
    if (!indexable_ || !written_.known())
        return {};
    QList<const Entry *> jobs;
    jobs.reserve(order_.size());
    for (const QUuid &id : std::as_const(order_)) {
        const auto it = entries_.find(id);
        if (it == entries_.end() || !it->outlined)
            return {}; // a job read but never checked (the first save had none to copy)
        // A repeated id stands twice in the file; its entry knows one place.
        if (!jobs.isEmpty() && std::find(jobs.cbegin(), jobs.cend(), &*it) != jobs.cend())
            return {};
        jobs.append(&*it);
    }
    StateIndex::Header header;
    header.stateFile = written_;
    header.jobs = jobs.size();
    QByteArray table;
    table.reserve(jobs.size() * 96);
    for (const Entry *entry : std::as_const(jobs)) {
        table += QByteArray::number(entry->offset) + ' ' + QByteArray::number(entry->length) + ' '
                 + QByteArray::number(entry->skeletonSum >> 1) + ' ' + QByteArray::number(entry->strings.size());
        for (const auto &[at, size] : entry->strings)
            table += ' ' + QByteArray::number(entry->offset + at + 1) + ' ' + QByteArray::number(size - 2);
        table += '\n';
    }
    header.tableBytes = table.size();
    const QList<QByteArray> rest = json::writeSortedPieces(rest_.toJson(JsonDates::iso8601()),
                                                           QLatin1StringView("jobs"),
                                                           QList<QByteArray>(jobs.size()));
    header.restSum = StateIndex::checksum(table);
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (!(i % 2 == 1 && i / 2 < jobs.size()))
            header.restSum = StateIndex::combine(header.restSum, StateIndex::checksum(rest.at(i)));
    }
    QList<FilePiece> pieces;
    pieces.reserve(rest.size() + 2);
    pieces.append(FilePiece{StateIndex::headerLine(header)});
    pieces.append(FilePiece{table});
    qint64 at = pieces.at(0).size() + table.size();
    for (qsizetype i = 0; i < rest.size(); ++i) {
        FilePiece piece{rest.at(i)};
        if (i % 2 == 1 && i / 2 < jobs.size()) {
            Entry &entry = entries_[order_.at(i / 2)];
            piece = entry.skeletonFile ? FilePiece{{},
                                                   entry.skeletonFile->fd,
                                                   entry.skeletonOffset,
                                                   entry.skeletonLength,
                                                   entry.skeletonFile->identity}
                                       : FilePiece{entry.skeleton};
            entry.nextSkeletonOffset = at;
        }
        at += piece.size();
        pieces.append(std::move(piece));
    }
    return pieces;
}

void PersistedStateEncoder::indexWritten(int fd)
{
    const auto file = std::make_shared<HeldFile>(fd);
    for (const QUuid &id : std::as_const(order_)) {
        Entry &entry = entries_[id];
        if (!entry.skeletonFile)
            entry.skeletonLength = entry.skeleton.size();
        entry.skeleton = QByteArray();
        entry.skeletonFile = file;
        entry.skeletonOffset = entry.nextSkeletonOffset;
    }
    indexable_ = false; // until the next save
}

void PersistedStateEncoder::indexNotWritten(bool sourceChanged)
{
    // The index last written was changed by someone else: its jobs' outlines
    // are made again from their records.
    if (sourceChanged)
        releaseIndex();
}

bool PersistedStateEncoder::releaseIndex()
{
    bool held = false;
    for (Entry &entry : entries_) {
        if (!entry.skeletonFile)
            continue;
        QList<std::pair<qsizetype, qsizetype>> marks;
        std::pair<qsizetype, qsizetype> logs;
        entry.skeleton = writeJob(entry.job, 2, &marks, &logs);
        if (!entry.job.isWaiting())
            entry.skeleton = outline(entry.skeleton, {{logs.first, logs.second}});
        entry.skeletonFile.reset();
        held = true;
    }
    return held;
}

} // namespace pendrel
