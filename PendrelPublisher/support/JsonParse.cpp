#include "support/JsonParse.h"

#include "support/Text.h"

#include "support/Error.h"
#include "support/JsonWrite.h"
#include "support/SerialExecutor.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtEndian>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

namespace pendrel::json {

namespace {

// QJsonDocument's own limit, so that both refuse the same documents.
constexpr int kNestingLimit = 1024;

int hexValue(uchar c)
{
    return text::hexDigitValue(c);
}

bool isContinuation(uchar c)
{
    return (c & 0xC0) == 0x80;
}

// Eight bytes at a time (SWAR): articles are long runs of plain text
// between a few escapes.
constexpr quint64 kOnes = 0x0101010101010101ULL;
constexpr quint64 kHighBits = 0x8080808080808080ULL;
constexpr quint64 kQuotes = kOnes * '"';
constexpr quint64 kBackslashes = kOnes * '\\';

quint64 load8(const uchar *p)
{
    return qFromLittleEndian<quint64>(p);
}

// The high bit set in (at least) the lowest byte equal to zero; bytes above
// it may be flagged wrongly, so only the lowest flag counts.
quint64 zeroBytes(quint64 v)
{
    return (v - kOnes) & ~v & kHighBits;
}

int firstFlagged(quint64 mask)
{
    return qCountTrailingZeroBits(mask) / 8;
}

// The second reader's part: where it began, and, once it is done, where
// the array ended if it read that far without a fault.
struct Split {
    const uchar *at = nullptr;
    std::thread thread;
    const uchar *end = nullptr; // null: it did not
    bool joined = false;

    bool take()
    {
        if (!joined) {
            thread.join();
            joined = true;
        }
        return end != nullptr;
    }
    ~Split()
    {
        if (thread.joinable())
            thread.join();
    }
};

class Parser {
public:
    Parser(QByteArrayView bytes, const RootArrayReader *reader)
        : begin_(reinterpret_cast<const uchar *>(bytes.data())), p_(begin_), end_(begin_ + bytes.size()),
          reader_(reader)
    {
    }

    QJsonValue document()
    {
        if (end_ - p_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF)
            p_ += 3;
        skipSpace();
        QJsonValue root;
        if (p_ < end_ && *p_ == '{')
            root = object();
        else if (p_ < end_ && *p_ == '[')
            root = array();
        else
            fail("expected an object or an array");
        skipSpace();
        if (p_ < end_)
            fail("garbage at the end of the document");
        return root;
    }

private:
    [[noreturn]] void fail(const char *what) const
    {
        throw DecodingError(QStringLiteral("not valid JSON (%1 at offset %2)")
                                .arg(QLatin1StringView(what))
                                .arg(qint64(p_ - begin_)));
    }

    // After an element: true past a comma (another follows), false past
    // the closing bracket.
    bool another(char close, const char *unterminated)
    {
        if (p_ < end_ && *p_ == ',') {
            ++p_;
            skipSpace();
            return true;
        }
        if (p_ < end_ && *p_ == close) {
            ++p_;
            return false;
        }
        fail(unterminated);
    }

    void skipSpace()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
            ++p_;
    }

    void enter()
    {
        if (++depth_ > kNestingLimit)
            fail("too deeply nested");
    }

    QJsonValue value()
    {
        if (p_ >= end_)
            fail("unexpected end");
        // Only an object right here is on the paths its member was.
        const quint32 paths = std::exchange(nextPaths_, 0);
        switch (*p_) {
        case '{':
            return object(paths, nextLevel_);
        case '[':
            return array();
        case '"': {
            const Text text = string();
            return text.plain ? QJsonValue(*text.plain) : QJsonValue(text.decoded);
        }
        case 't':
            literal("true");
            return true;
        case 'f':
            literal("false");
            return false;
        case 'n':
            literal("null");
            return QJsonValue(QJsonValue::Null);
        default:
            return number();
        }
    }

    // `paths`: the reader's body paths (bits) this object is on, `level`
    // deep.
    QJsonObject object(quint32 paths = 0, int level = 0)
    {
        enter();
        ++p_;
        skipSpace();
        QJsonObject object;
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return object;
        }
        for (;;) {
            if (p_ >= end_ || *p_ != '"')
                fail("expected a member name");
            const Text key = string();
            skipSpace();
            if (p_ >= end_ || *p_ != ':')
                fail("expected \":\"");
            ++p_;
            skipSpace();
            const bool streamed = depth_ == 1 && reader_ && p_ < end_ && *p_ == '['
                                  && (key.plain ? *key.plain == reader_->key : key.decoded == reader_->key);
            // The reader's paths: the bodies' first, then the records'.
            quint32 inner = 0;
            int body = -1;
            int records = -1;
            for (int i = 0; paths >> i; ++i) {
                if (!(paths >> i & 1))
                    continue;
                const bool isBody = i < reader_->bodiesAt.size();
                const QList<QLatin1StringView> &path =
                    isBody ? reader_->bodiesAt.at(i) : reader_->recordsAt.at(i - reader_->bodiesAt.size());
                if (key.plain ? *key.plain != path.at(level) : key.decoded != path.at(level))
                    continue;
                if (path.size() > level + 1)
                    inner |= 1U << i;
                else if (isBody)
                    body = i;
                else
                    records = i - int(reader_->bodiesAt.size());
            }
            QJsonValue member;
            if (streamed) {
                member = streamedArray();
            } else if (body >= 0 && p_ < end_ && *p_ == '"') {
                bool form = false;
                parts_.bodies[body] = checkedBody(form);
                parts_.writersForm =
                    form ? parts_.writersForm | 1U << body : parts_.writersForm & ~(1U << body);
                member = QJsonValue(QLatin1StringView(""));
            } else if (records >= 0 && flatRecords(records)) {
                parts_.records |= 1U << records;
                member = QJsonArray();
            } else {
                if (records >= 0)
                    parts_.records &= ~(1U << records); // the last of a repeated key counts
                nextPaths_ = inner;
                nextLevel_ = level + 1;
                member = value();
            }
            // A repeated key keeps its last value.
            if (key.plain)
                object.insert(*key.plain, member);
            else
                object.insert(key.decoded, member);
            skipSpace();
            if (!another('}', "unterminated object"))
                break;
        }
        --depth_;
        return object;
    }

    QJsonArray array()
    {
        enter();
        ++p_;
        skipSpace();
        QJsonArray array;
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return array;
        }
        for (;;) {
            array.append(value());
            skipSpace();
            if (!another(']', "unterminated array"))
                break;
        }
        --depth_;
        return array;
    }

public:
    // The second reader's work: the array's elements from `from`, at the
    // depth they have there; past the array's end.
    const uchar *elementsFrom(const uchar *from)
    {
        p_ = from;
        depth_ = 2; // the root object, the array
        for (;;) {
            element();
            skipSpace();
            if (!another(']', "unterminated array"))
                break;
        }
        return p_;
    }

    Split *split_ = nullptr;

private:
    void element()
    {
        const uchar *start = p_;
        parts_.bodies.fill(QByteArrayView(), reader_->bodiesAt.size());
        parts_.records = 0;
        parts_.writersForm = 0;
        nextPaths_ = (1U << (reader_->bodiesAt.size() + reader_->recordsAt.size())) - 1;
        nextLevel_ = 0;
        const QJsonValue element = value();
        reader_->element(element, QByteArrayView(start, p_ - start), parts_);
    }

    // The reader's array: each element goes to the reader, none is kept.
    QJsonArray streamedArray()
    {
        enter();
        ++p_;
        skipSpace();
        reader_->begin();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return {};
        }
        for (;;) {
            if (split_ && p_ == split_->at) {
                if (split_->take()) {
                    reader_->taken();
                    p_ = split_->end;
                    --depth_;
                    return {};
                }
                split_ = nullptr;
            }
            element();
            skipSpace();
            if (!another(']', "unterminated array"))
                break;
        }
        --depth_;
        return {};
    }

    void literal(const char *word)
    {
        const qsizetype n = qsizetype(qstrlen(word));
        if (end_ - p_ < n || std::memcmp(p_, word, size_t(n)) != 0)
            fail("illegal value");
        p_ += n;
    }

    // The same scan and conversions as QJsonDocument, for the same answers
    // on the loose forms it accepts.
    QJsonValue number()
    {
        const uchar *start = p_;
        const auto digits = [this] {
            bool any = false;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
                ++p_;
                any = true;
            }
            return any;
        };
        bool isInteger = true;
        if (p_ < end_ && *p_ == '-')
            ++p_;
        if (p_ < end_ && *p_ == '0')
            ++p_;
        else
            digits();
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            if (digits())
                isInteger = false;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            isInteger = false;
            ++p_;
            if (p_ < end_ && (*p_ == '-' || *p_ == '+'))
                ++p_;
            digits();
        }
        if (p_ >= end_)
            fail("unexpected end after a number");
        const QByteArray text =
            QByteArray::fromRawData(reinterpret_cast<const char *>(start), qsizetype(p_ - start));
        bool ok = false;
        if (isInteger) {
            const qint64 integer = text.toLongLong(&ok);
            if (ok)
                return QJsonValue(integer);
        }
        const double d = text.toDouble(&ok);
        if (!ok) // also out of range, both ways
            fail("illegal number");
        // Like QJsonDocument, a whole number within range is kept as an
        // integer (-9223372036854775809 rounds to the smallest one).
        if (std::trunc(d) == d && d >= -0x1p63 && d < 0x1p63)
            return QJsonValue(qint64(d));
        return d;
    }

    // A string's text: most keys and many values need no decoding at all
    // and are used straight from the input.
    struct Text {
        std::optional<QLatin1StringView> plain;
        QString decoded;
    };

    // p_ is at the opening quote; past the closing one after.
    Text string()
    {
        const uchar *start = p_ + 1;
        bool plain = true;
        const uchar *q = stringEnd(plain);
        if (plain) {
            p_ = q + 1;
            return Text{QLatin1StringView(reinterpret_cast<const char *>(start), qsizetype(q - start)), {}};
        }
        // Every code unit comes from at least one byte, so the byte count
        // bounds the length.
        QString out(qsizetype(q - start), Qt::Uninitialized);
        char16_t *const first = reinterpret_cast<char16_t *>(out.data());
        out.truncate(qsizetype(convert<true>(start, q, first) - first));
        p_ = q + 1;
        return Text{std::nullopt, std::move(out)};
    }

    // An array of flat objects of strings at p_, handed to the reader's
    // `record`; false, with nothing read, for anything else.
    bool flatRecords(int path)
    {
        const uchar *const from = p_;
        const int depth = depth_;
        const auto giveUp = [&] {
            p_ = from;
            depth_ = depth;
            return false;
        };
        if (p_ >= end_ || *p_ != '[' || depth_ + 2 > kNestingLimit)
            return false;
        try {
            ++p_;
            skipSpace();
            reader_->recordsBegin(path);
            if (p_ < end_ && *p_ == ']') {
                ++p_;
                return true;
            }
            for (;;) {
                if (p_ >= end_ || *p_ != '{')
                    return giveUp();
                ++p_;
                skipSpace();
                members_.clear();
                if (p_ < end_ && *p_ == '}') {
                    ++p_;
                } else {
                    for (;;) {
                        if (p_ >= end_ || *p_ != '"')
                            return giveUp();
                        bool plain = true;
                        const uchar *q = stringEnd(plain);
                        if (!plain)
                            return giveUp();
                        const QLatin1StringView key(reinterpret_cast<const char *>(p_ + 1),
                                                    qsizetype(q - p_ - 1));
                        p_ = q + 1;
                        skipSpace();
                        if (p_ >= end_ || *p_ != ':')
                            return giveUp();
                        ++p_;
                        skipSpace();
                        if (p_ >= end_ || *p_ != '"')
                            return giveUp();
                        const uchar *start = p_ + 1;
                        plain = true;
                        q = stringEnd(plain);
                        if (!plain)
                            convert<false>(start, q, nullptr);
                        p_ = q + 1;
                        members_.append({key, QByteArrayView(start, q - start), plain});
                        skipSpace();
                        if (!another('}', "unterminated object")) // a fault throws: read as usual below
                            break;
                    }
                }
                if (!reader_->record(path, members_))
                    return giveUp();
                skipSpace();
                if (!another(']', "unterminated array"))
                    return true;
            }
        } catch (const DecodingError &) {
            return giveUp(); // read again as usual, which says what is wrong where
        }
    }

    // The same checks as string(), without decoding; the body between the
    // quotes. One pass, sixteen bytes at a time where SSE2 is there: these
    // are the articles, most of a long history's bytes.
    QByteArrayView checkedBody(bool &writersForm)
    {
        const uchar *const quote = p_;
        const uchar *start = p_ + 1;
        writersForm = false;
#if defined(__SSE2__)
        try {
            bool form = true;
            const uchar *s = start;
            const __m128i quotes = _mm_set1_epi8('"');
            const __m128i backslashes = _mm_set1_epi8('\\');
            const __m128i slashes = _mm_set1_epi8('/');
            const __m128i controls = _mm_set1_epi8(0x1F);
            for (;;) {
                if (end_ - s >= 16) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
                    // The writer's form also has no raw '/' and no raw control character.
                    const int stops = _mm_movemask_epi8(_mm_cmpeq_epi8(v, quotes))
                                      | _mm_movemask_epi8(_mm_cmpeq_epi8(v, backslashes))
                                      | _mm_movemask_epi8(_mm_cmpeq_epi8(v, slashes))
                                      | _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, controls), v))
                                      | _mm_movemask_epi8(v);
                    if (stops == 0) {
                        s += 16;
                        continue;
                    }
                    s += qCountTrailingZeroBits(uint(stops));
                } else {
                    while (s < end_ && *s != '"' && *s != '\\' && *s != '/' && *s >= 0x20 && *s < 0x80)
                        ++s;
                    if (s >= end_)
                        fail("unterminated string");
                }
                if (*s == '"')
                    break;
                p_ = s;
                if (*s == '\\') {
                    form = form && writersEscapeLength(QByteArrayView(s, end_ - s)) > 0;
                    escape<false>(s, end_, nullptr);
                } else if (*s < 0x80) {
                    form = false;
                    ++s;
                } else {
                    utf8<false>(s, end_, nullptr);
                }
            }
            p_ = s + 1;
            writersForm = form;
            return {start, s - start};
        } catch (const DecodingError &) {
            // The same fault as string() finds first, where it finds it.
            p_ = quote;
        }
#endif
        bool plain = true;
        const uchar *q = stringEnd(plain);
        if (!plain)
            convert<false>(start, q, nullptr);
        p_ = q + 1;
        return {start, q - start};
    }

public:
    QString decodeBody()
    {
        QString out(qsizetype(end_ - begin_), Qt::Uninitialized);
        char16_t *const first = reinterpret_cast<char16_t *>(out.data());
        out.truncate(qsizetype(convert<true>(begin_, end_, first) - first));
        return out;
    }

private:
    // From the opening quote at p_: the closing quote; `plain` is cleared
    // where the text has escapes or non-ASCII bytes.
    const uchar *stringEnd(bool &plain)
    {
        const uchar *start = p_ + 1;
        // Find the closing quote first: strings with nothing to decode (the
        // keys, most values) are taken as they are.
        const uchar *q = start;
        while (end_ - q >= 8) {
            const quint64 v = load8(q);
            // Once the text needs decoding, only its end matters here.
            const quint64 stops =
                zeroBytes(v ^ kQuotes) | zeroBytes(v ^ kBackslashes) | (plain ? v & kHighBits : 0);
            if (stops == 0) {
                q += 8;
                continue;
            }
            q += firstFlagged(stops);
            if (*q == '"')
                break;
            plain = false;
            q += *q == '\\' ? 2 : 1;
        }
        while (q < end_ && *q != '"') {
            if (*q == '\\') {
                plain = false;
                if (end_ - q < 2) {
                    q = end_;
                    break;
                }
                q += 2;
                continue;
            }
            if (*q >= 0x80)
                plain = false;
            ++q;
        }
        if (q >= end_) {
            p_ = start;
            fail("unterminated string");
        }
        return q;
    }

    // Decodes [s, q) into `o` (Emit) or only checks it; past the last unit
    // written.
    template <bool Emit>
    char16_t *convert(const uchar *s, const uchar *q, char16_t *o)
    {
        while (s < q) {
            while (q - s >= 8) {
                const quint64 v = load8(s);
                const quint64 stops = zeroBytes(v ^ kBackslashes) | (v & kHighBits);
                const int n = stops == 0 ? 8 : firstFlagged(stops);
                if constexpr (Emit) {
                    for (int i = 0; i < 8; ++i) // all eight: the ones past a stop are overwritten
                        o[i] = s[i];
                    o += n;
                }
                s += n;
                if (n < 8)
                    break;
            }
            while (s < q && *s < 0x80 && *s != '\\') {
                if constexpr (Emit)
                    *o++ = *s;
                ++s;
            }
            if (s >= q)
                break;
            p_ = s;
            if (*s == '\\')
                o = escape<Emit>(s, q, o);
            else
                o = utf8<Emit>(s, q, o);
        }
        return o;
    }

    template <bool Emit>
    char16_t *escape(const uchar *&s, const uchar *limit, char16_t *o)
    {
        ++s;
        if (s >= limit)
            fail("unterminated string");
        const uchar c = *s++;
        char16_t unit;
        switch (c) {
        case 'b':
            unit = u'\b';
            break;
        case 'f':
            unit = u'\f';
            break;
        case 'n':
            unit = u'\n';
            break;
        case 'r':
            unit = u'\r';
            break;
        case 't':
            unit = u'\t';
            break;
        case 'u': {
            if (limit - s < 4)
                fail("invalid escape sequence");
            unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int h = hexValue(s[i]);
                if (h < 0)
                    fail("invalid escape sequence");
                unit = char16_t((unit << 4) | h);
            }
            s += 4; // a lone surrogate stays, as QJsonDocument keeps it
            break;
        }
        default: // '"', '\\', '/' and, leniently, any other byte as itself
            unit = c;
        }
        if constexpr (Emit)
            *o++ = unit;
        return o;
    }

    // Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
    template <bool Emit>
    char16_t *utf8(const uchar *&s, const uchar *limit, char16_t *o)
    {
        const uchar b = *s;
        char32_t cp;
        int extra;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            extra = 1;
            min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            extra = 2;
            min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            extra = 3;
            min = 0x10000;
        } else {
            fail("invalid UTF-8 string");
        }
        if (limit - s <= extra)
            fail("invalid UTF-8 string");
        for (int i = 1; i <= extra; ++i) {
            if (!isContinuation(s[i]))
                fail("invalid UTF-8 string");
            cp = (cp << 6) | (s[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            fail("invalid UTF-8 string");
        s += extra + 1;
        if constexpr (!Emit)
            return o;
        if (cp >= 0x10000) {
            *o++ = QChar::highSurrogate(cp);
            *o++ = QChar::lowSurrogate(cp);
        } else {
            *o++ = char16_t(cp);
        }
        return o;
    }

    const uchar *begin_;
    const uchar *p_;
    const uchar *end_;
    const RootArrayReader *reader_;
    int depth_ = 0;
    quint32 nextPaths_ = 0; // for the next value: the body paths it is on (if an object)
    int nextLevel_ = 0;
    ElementParts parts_; // of the element being read
    QList<FlatMember> members_;
};

} // namespace

QJsonValue parseJson(QByteArrayView bytes)
{
    return Parser(bytes, nullptr).document();
}

QJsonValue parseJson(QByteArrayView bytes, const RootArrayReader &reader)
{
    Q_ASSERT(reader.bodiesAt.size() + reader.recordsAt.size() < 32);
    return Parser(bytes, &reader).document();
}

QJsonValue parseJson(QByteArrayView bytes, const RootArrayReader &reader, const RootArrayReader &second,
                     qsizetype from)
{
    Q_ASSERT(from >= 0 && from <= bytes.size());
    Split split;
    split.at = reinterpret_cast<const uchar *>(bytes.data()) + from;
    split.thread = std::thread([&split, bytes, &second] {
        runBelowInterfacePriority();
        try {
            split.end = Parser(bytes, &second).elementsFrom(split.at);
        } catch (...) { // a guess that was not an element's start, or a fault the first will meet
            split.end = nullptr;
        }
    });
    Parser parser(bytes, &reader);
    parser.split_ = &split;
    return parser.document(); // ~Split waits for the second where the first did not
}

QString decodeStringBody(QByteArrayView body)
{
    try {
        return Parser(body, nullptr).decodeBody();
    } catch (const DecodingError &) {
        return QString::fromUtf8(body);
    }
}

} // namespace pendrel::json
