#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QList>

#include <functional>

namespace pendrel::json {

// Parses a whole document into its root object or array. Accepts exactly
// what QJsonDocument::fromJson accepts and gives the same values (a leading
// byte order mark, unknown escapes standing for the character, raw control
// characters in strings, "1." and ".5", the last of duplicate keys, lone
// surrogates escaped as "\udXXX"), with one difference: a raw byte order
// mark at the start of a string stays in the string, where Qt drops it
// (the state file's writer never writes one there unless the text has it;
// keeping it keeps a text as it was), but
// decodes long strings with escapes without going character by character:
// the state file's articles load several times faster. Throws
// DecodingError naming the offset of the first fault.
QJsonValue parseJson(QByteArrayView bytes);

// Takes the elements of one array member of the root object as the parser
// reaches them, instead of the array (the root then holds it empty): the
// records of a large document are decoded one at a time and the document
// never sits in memory as JSON values all at once.
// A member of a flat object whose values are all strings, as it stands in
// the document: its name (without escapes) and its value's body, `plain`
// when that has neither escapes nor non-ASCII bytes.
struct FlatMember {
    QLatin1StringView key;
    QByteArrayView value;
    bool plain = true;
};

// What the reader took out of an element instead of the element's values.
struct ElementParts {
    QList<QByteArrayView> bodies; // at the index of each path of `bodiesAt`; null where none
    quint32 records = 0;          // bit i: the array at `recordsAt[i]` went to `record`
    quint32 writersForm = 0;      // bit i: body i is as the state file's writer writes it (json::writeSorted)
};

// The string values at `bodiesAt` (paths of member names within each
// element) are checked but not decoded: the element holds an empty string
// there, and `parts.bodies` the string's body as it stands in the document
// (between its quotes) at the path's index, for decodeStringBody() later.
// A long history's articles are most of its bytes and are rarely read.
//
// The arrays at `recordsAt` go to `record` one object at a time instead,
// where each is flat with string values only: a job's log lines, thousands
// of small objects. Where `record` returns false (a member it does not know,
// a value it would refuse) or the array has anything else, the array is read
// as usual, to give the usual answer. The element holds an empty array
// where `record` took them.
struct RootArrayReader {
    QLatin1StringView key;
    std::function<void()> begin; // as the array starts; again for a repeated key
    QList<QList<QLatin1StringView>> bodiesAt;
    QList<QList<QLatin1StringView>> recordsAt;
    std::function<void(int path)> recordsBegin; // as each such array starts
    std::function<bool(int path, const QList<FlatMember> &members)> record;
    // With the element's bytes as they stand in the document.
    std::function<void(const QJsonValue &element, QByteArrayView bytes, const ElementParts &parts)> element;
    // With parseJson(bytes, reader, second, from): the second reader's
    // elements stand in for the rest of the array's, from here.
    std::function<void()> taken;
};
QJsonValue parseJson(QByteArrayView bytes, const RootArrayReader &reader);

// The same, with a second reader of the array's elements from `from` on (a
// guess at where one begins, without reading what comes before it) on
// another thread meanwhile: a long history is read in about half the time
// on two cores. Where the first reaches an element at exactly `from`, and
// the second read from there to the array's end without a fault, the
// second's elements stand (`reader.taken`) and the first goes on after the
// array; otherwise the first reads them itself and the second's go unused.
// Either way the answer, faults included, is the one parseJson(bytes,
// reader) gives. Returns once the second is done.
QJsonValue parseJson(QByteArrayView bytes, const RootArrayReader &reader, const RootArrayReader &second,
                     qsizetype from);

// The text of a string body that parseJson() checked, as it would have
// given it. Bodies not from there are decoded leniently: a fault is kept as
// the bytes stand.
QString decodeStringBody(QByteArrayView body);

} // namespace pendrel::json
