#include "support/Error.h"

namespace pendrel {

QString describeError(const std::exception &error)
{
    if (const auto *ours = dynamic_cast<const Error *>(&error))
        return ours->description();
    return QString::fromUtf8(error.what());
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
