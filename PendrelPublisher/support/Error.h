#pragma once

#include <QString>

#include <exception>

namespace pendrel {

// Base of every error the application throws. description() is the text the
// user sees; what() exists only so that generic catch sites can log it.
class Error : public std::exception {
public:
    ~Error() override = default;
    [[nodiscard]] virtual QString description() const = 0;
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
// failure without a type of its own).
class MessageError : public Error {
public:
    explicit MessageError(QString message) : message_(std::move(message)) {}
    [[nodiscard]] QString description() const override { return message_; }

private:
    QString message_;
};

// The text to show for any exception: the description of ours, what() of others.
QString describeError(const std::exception &error);

} // namespace pendrel
