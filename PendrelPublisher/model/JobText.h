#pragma once

#include <QByteArray>
#include <QString>

#include <initializer_list>
#include <memory>

namespace pendrel {

// A long text of a job: its source, an article or a stage's checkpoint of
// one. A job that is finished keeps these compressed, all of its texts in
// one block (they repeat each other: a checkpoint is mostly the one before
// it), and a text is unpacked only when something reads it. A history of a
// thousand articles held as UTF-16 would take several times the state
// file's size; packed, it takes a fraction of it.
//
// A value like QString: copies share the block, which never changes.
// Reading one from several threads is safe.
class JobText {
public:
    JobText() = default;
    JobText(QString text) : plain_(std::move(text)) {} // NOLINT(google-explicit-constructor): stands in for QString

    [[nodiscard]] QString toString() const;
    operator QString() const { return toString(); } // NOLINT(google-explicit-constructor)

    // A character to change: a packed text is unpacked first.
    QChar &operator[](qsizetype i)
    {
        unpack();
        return plain_[i];
    }

    [[nodiscard]] bool isEmpty() const { return pack_ ? from_ == to_ : plain_.isEmpty(); }
    [[nodiscard]] bool isPacked() const { return pack_ != nullptr; }

    // Compresses the texts into one block that they all refer to from then
    // on. Null pointers are skipped; texts already packed are unpacked first.
    static void packTogether(std::initializer_list<JobText *> texts);

    friend bool operator==(const JobText &a, const JobText &b);
    friend bool operator==(const JobText &a, const QString &b) { return a.toString() == b; }

private:
    struct Pack;
    void unpack();
    // The UTF-8 bytes of the texts in the pack, all of them.
    [[nodiscard]] QByteArray unpacked() const;

    QString plain_;
    std::shared_ptr<const Pack> pack_;
    qsizetype from_ = 0; // this text's UTF-8 bytes within the unpacked block
    qsizetype to_ = 0;
};

} // namespace pendrel
