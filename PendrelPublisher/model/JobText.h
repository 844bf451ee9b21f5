#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>

#include <initializer_list>
#include <memory>
#include <thread>
#include <utility>

namespace pendrel {

// A long text of a job: its source, an article or a stage's checkpoint of
// one. A job that is finished keeps these compressed, all of its texts in
// one block (they repeat each other: a checkpoint is mostly the one before
// it), and a text is unpacked only when something reads it. A history of a
// thousand articles held as UTF-16 would take several times the state
// file's size; packed, it takes a fraction of it.
//
// Texts read from the state file are first left where they are in the
// file's bytes, as the JSON strings they are there, and packed later on
// another thread (packBlock()): reading a long history then only checks
// its articles instead of decoding them.
//
// A value like QString: copies share the block; packing changes how a block
// holds its texts, never what they are. Reading one from several threads is
// safe.
// Bytes that texts borrow before they are in: the state file, read after
// the program has started from a small index of it. A text read before then
// waits for them; opened bad (the file changed meanwhile), its texts read
// as empty and are never packed.
class JobTextGate {
public:
    void open(bool good);
    // Waits until opened; true when the bytes are good.
    [[nodiscard]] bool wait() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable opened_;
    int state_ = 0; // 0 not yet, 1 good, 2 bad
};

class JobText {
public:
    struct Block;

    JobText() = default;
    JobText(QString text)
        : plain_(std::move(text)) {} // NOLINT(google-explicit-constructor): stands in for QString

    [[nodiscard]] QString toString() const;
    operator QString() const { return toString(); } // NOLINT(google-explicit-constructor)

    // A character to change: a packed text is unpacked first.
    QChar &operator[](qsizetype i)
    {
        unpack();
        return plain_[i];
    }

    [[nodiscard]] bool isEmpty() const;
    // Held in a block (packed, or still in the file's bytes), not as UTF-16.
    [[nodiscard]] bool isPacked() const { return block_ != nullptr; }

    // Compresses the texts into one block that they all refer to from then
    // on. Null pointers are skipped; texts already packed are unpacked first.
    static void packTogether(std::initializer_list<JobText *> texts);

    // The texts, each the body of a JSON string (between its quotes, as the
    // JSON parser checked it) in bytes that `owner` keeps, are left there in
    // one block until packBlock(). Null pointers are skipped.
    // With `gate`, the bytes are not yet there: see JobTextGate.
    static std::shared_ptr<Block>
    borrowTogether(std::shared_ptr<const void> owner,
                   std::initializer_list<std::pair<JobText *, QByteArrayView>> texts,
                   std::shared_ptr<const JobTextGate> gate = {});
    // Packs a block from borrowTogether() in place, for every copy of its
    // texts, and lets go of the bytes it borrowed. Any thread.
    static void packBlock(const std::shared_ptr<Block> &block);

    friend bool operator==(const JobText &a, const JobText &b);
    friend bool operator==(const JobText &a, const QString &b) { return a.toString() == b; }

private:
    void unpack();

    QString plain_;
    std::shared_ptr<Block> block_;
    int index_ = 0; // this text's place in the block
};

// Packs blocks of borrowed texts (JobText::borrowTogether()) on a thread of
// its own, in the order given.
class JobTextPacker {
public:
    JobTextPacker() = default;
    // Stops after the block at hand: the rest stay borrowed, and readable.
    ~JobTextPacker();
    JobTextPacker(const JobTextPacker &) = delete;
    JobTextPacker &operator=(const JobTextPacker &) = delete;

    // `then` runs on the packer's thread once these are packed.
    void add(QList<std::shared_ptr<JobText::Block>> blocks, std::function<void()> then = {});
    // Returns once everything handed over is packed.
    void finish();

private:
    struct Queue;
    std::shared_ptr<Queue> queue_;
    std::thread thread_;
};

} // namespace pendrel
