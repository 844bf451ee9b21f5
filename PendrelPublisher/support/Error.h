#pragma once

#include <QString>

#include <exception>

namespace pendrel {

// Base of every error the application throws. description() is the whole
// account, for log lines (it may name a request id, a parser's position or the
// network layer's own words); userMessage() is what a user reads in a job's
// error, a notification or the panel: plain sentences without those details.
// what() exists only so that generic catch sites can log it.
class Error : public std::exception {
public:
    ~Error() override = default;
    [[nodiscard]] virtual QString description() const = 0;
    [[nodiscard]] virtual QString userMessage() const { return description(); }
    [[nodiscard]] const char *what() const noexcept override;

private:
    mutable QByteArray whatCache_;
};

// A JSON document did not have the shape a record requires. The path names
// the offending member, for example "jobs[3].settingsSnapshot.autoSend".
class DecodingError : public Error {
public:
    explicit DecodingError(QString reason, QString path = {});

    [[nodiscard]] QString description() const override;
    // Whatever failed to read, the user learns only that an answer was unreadable.
    [[nodiscard]] QString userMessage() const override;
    [[nodiscard]] const QString &path() const { return path_; }
    [[nodiscard]] const QString &reason() const { return reason_; }

    // Nested readers throw with the path relative to themselves; each
    // enclosing reader prepends its own member name or index on the way out.
    void prependKey(const QString &key);
    void prependIndex(qsizetype index);

private:
    QString reason_;
    QString path_;
};

// An error that is nothing but its message (a refusal of the desktop, a
// failure without a type of its own), optionally with a fuller account for
// the log.
class MessageError : public Error {
public:
    explicit MessageError(QString message, QString details = {})
        : message_(std::move(message)), details_(std::move(details))
    {
    }
    [[nodiscard]] QString description() const override { return details_.isEmpty() ? message_ : details_; }
    [[nodiscard]] QString userMessage() const override { return message_; }

private:
    QString message_;
    QString details_;
};

// The whole account of any exception, for log lines: the description of
// ours, what() of others.
QString describeError(const std::exception &error);

// What a user reads about any exception: the user message of ours, a plain
// sentence for others (whose what() is for developers).
QString userMessage(const std::exception &error);

// Two sentences as one text: the first gets its closing full stop when it
// has none, then one space, then the second. An empty part drops out.
QString joinSentences(const QString &first, const QString &second);

} // namespace pendrel
