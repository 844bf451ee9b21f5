#include "support/Error.h"

namespace pendrel {

QString describeError(const std::exception &error)
{
    if (const auto *ours = dynamic_cast<const Error *>(&error))
        return ours->description();
    return QString::fromUtf8(error.what());
}

QString userMessage(const std::exception &error)
{
    if (const auto *ours = dynamic_cast<const Error *>(&error))
        return ours->userMessage();
    return QStringLiteral("Something unexpected went wrong.");
}

QString joinSentences(const QString &first, const QString &second)
{
    QString joined = first.trimmed();
    const QString next = second.trimmed();
    if (joined.isEmpty())
        return next;
    if (next.isEmpty())
        return joined;
    // Ends of sentences, also inside a closing quote or bracket.
    static const QString closers = QStringLiteral(")]\"'\u201D\u2019");
    qsizetype end = joined.size();
    while (end > 0 && closers.contains(joined.at(end - 1)))
        --end;
    static const QString stops = QStringLiteral(".!?\u2026");
    if (end == 0 || !stops.contains(joined.at(end - 1)))
        joined += u'.';
    return joined + u' ' + next;
}

const char *Error::what() const noexcept
{
    whatCache_ = description().toUtf8();
    return whatCache_.constData();
}

DecodingError::DecodingError(QString reason, QString path)
    : reason_(std::move(reason)), path_(std::move(path))
{
}

QString DecodingError::description() const
{
    return path_.isEmpty() ? reason_ : path_ + QStringLiteral(": ") + reason_;
}

QString DecodingError::userMessage() const
{
    return QStringLiteral("The service sent an answer that could not be read.");
}

void DecodingError::prependKey(const QString &key)
{
    if (path_.isEmpty())
        path_ = key;
    else if (path_.startsWith(u'['))
        path_ = key + path_;
    else
        path_ = key + u'.' + path_;
}

void DecodingError::prependIndex(qsizetype index)
{
    const QString step = u'[' + QString::number(index) + u']';
    if (path_.isEmpty() || path_.startsWith(u'['))
        path_ = step + path_;
    else
        path_ = step + u'.' + path_;
}

} // namespace pendrel
