#include "model/JobText.h"

#include "support/JsonParse.h"
#include "support/SerialExecutor.h"

#include <zstd.h>

#include <QList>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>

namespace pendrel {

struct JobText::Block {
    mutable std::mutex mutex; // over the borrowed bytes, until they are packed
    // Borrowed: each text's JSON string body in bytes that `owner` keeps.
    std::shared_ptr<const void> owner;
    QList<QByteArrayView> bodies;
    // Packed, which never changes again: one zstd frame of the texts one
    // after the other, and where each is in the unpacked bytes.
    QByteArray frame;
    qsizetype size = 0;
    QList<std::pair<qsizetype, qsizetype>> ranges;
    bool json = false; // the packed texts are JSON string bodies, escapes and all
    std::shared_ptr<const JobTextGate> gate; // the borrowed bytes are still being read

    // The borrowed body of a text, kept readable while `keep` lives; a null
    // view once the block is packed.
    QByteArrayView borrowed(int index, std::shared_ptr<const void> &keep) const
    {
        const bool good = !gate || gate->wait();
        const std::lock_guard lock(mutex);
        if (!owner)
            return {};
        if (!good) { // never read: empty, rather than whatever the buffer holds
            keep = owner;
            return QByteArrayView("", 0);
        }
        keep = owner;
        return bodies.at(index);
    }
};

namespace {

// The fastest level: the texts of one job repeat each other (a checkpoint is
// mostly the one before it), which the one frame finds at any level.
constexpr int kLevel = 1;

struct Contexts {
    ZSTD_CCtx *compress = ZSTD_createCCtx();
    ZSTD_DCtx *decompress = ZSTD_createDCtx();
    ~Contexts()
    {
        ZSTD_freeCCtx(compress);
        ZSTD_freeDCtx(decompress);
    }
};

Contexts &contexts()
{
    thread_local Contexts each;
    return each;
}

// One zstd frame of `all`; empty when it cannot be made.
QByteArray compressed(const QByteArray &all)
{
    QByteArray frame(qsizetype(ZSTD_compressBound(size_t(all.size()))), Qt::Uninitialized);
    const size_t n = ZSTD_compressCCtx(contexts().compress, frame.data(), size_t(frame.size()),
                                       all.constData(), size_t(all.size()), kLevel);
    if (ZSTD_isError(n))
        return {};
    frame.truncate(qsizetype(n));
    frame.squeeze();
    return frame;
}

// The last block unpacked on this thread: writing a job reads each of its
// texts in turn, and unpacking the block once serves them all.
struct LastUnpacked {
    std::weak_ptr<const JobText::Block> block;
    const void *raw = nullptr;
    QByteArray bytes;
};

} // namespace

namespace {

QByteArray unpacked(const std::shared_ptr<JobText::Block> &block)
{
    thread_local LastUnpacked last;
    if (last.raw == block.get() && !last.block.expired())
        return last.bytes;
    QByteArray bytes(block->size, Qt::Uninitialized);
    const size_t n = ZSTD_decompressDCtx(contexts().decompress, bytes.data(), size_t(bytes.size()),
                                         block->frame.constData(), size_t(block->frame.size()));
    // The frame is ours, made in this process: a failure here is memory gone bad.
    if (ZSTD_isError(n) || qsizetype(n) != block->size)
        throw std::runtime_error("a packed job text could not be unpacked");
    last.block = block;
    last.raw = block.get();
    last.bytes = bytes;
    return bytes;
}

} // namespace

QString JobText::toString() const
{
    if (!block_)
        return plain_;
    std::shared_ptr<const void> keep;
    if (const QByteArrayView body = block_->borrowed(index_, keep); keep)
        return json::decodeStringBody(body);
    const QByteArray bytes = unpacked(block_);
    const auto [from, to] = block_->ranges.at(index_);
    const QByteArrayView text(bytes.constData() + from, to - from);
    return block_->json ? json::decodeStringBody(text) : QString::fromUtf8(text);
}

bool JobText::isEmpty() const
{
    if (!block_)
        return plain_.isEmpty();
    std::shared_ptr<const void> keep;
    if (const QByteArrayView body = block_->borrowed(index_, keep); keep)
        return body.isEmpty();
    const auto [from, to] = block_->ranges.at(index_);
    return from == to;
}

void JobText::unpack()
{
    if (!block_)
        return;
    plain_ = toString();
    block_.reset();
    index_ = 0;
}

void JobText::packTogether(std::initializer_list<JobText *> texts)
{
    const bool packed =
        std::all_of(texts.begin(), texts.end(), [](const JobText *t) { return !t || t->block_; });
    if (packed)
        return;
    auto block = std::make_shared<Block>();
    QByteArray all;
    for (JobText *text : texts) {
        if (!text)
            continue;
        const qsizetype from = all.size();
        all += text->toString().toUtf8();
        block->ranges.append({from, all.size()});
    }
    if (block->ranges.isEmpty())
        return;
    block->frame = compressed(all);
    if (block->frame.isEmpty())
        return; // kept as they are
    block->size = all.size();
    int i = 0;
    for (JobText *text : texts) {
        if (!text)
            continue;
        text->plain_ = QString();
        text->block_ = block;
        text->index_ = i++;
    }
}

std::shared_ptr<JobText::Block>
JobText::borrowTogether(std::shared_ptr<const void> owner,
                        std::initializer_list<std::pair<JobText *, QByteArrayView>> texts,
                        std::shared_ptr<const JobTextGate> gate)
{
    auto block = std::make_shared<Block>();
    block->owner = std::move(owner);
    block->gate = std::move(gate);
    for (const auto &[text, body] : texts) {
        if (!text)
            continue;
        text->plain_ = QString();
        text->block_ = block;
        text->index_ = int(block->bodies.size());
        block->bodies.append(body);
    }
    return block;
}

void JobText::packBlock(const std::shared_ptr<Block> &block)
{
    if (block->gate && !block->gate->wait())
        return; // nothing read to pack
    std::shared_ptr<const void> owner;
    QList<QByteArrayView> bodies;
    {
        const std::lock_guard lock(block->mutex);
        if (!block->owner)
            return;
        owner = block->owner;
        bodies = block->bodies;
    }
    QByteArray all;
    QList<std::pair<qsizetype, qsizetype>> ranges;
    qsizetype size = 0;
    for (const QByteArrayView body : bodies)
        size += body.size();
    all.reserve(size);
    for (const QByteArrayView body : bodies) {
        ranges.append({all.size(), all.size() + body.size()});
        all.append(body);
    }
    QByteArray frame = compressed(all);
    if (frame.isEmpty())
        return; // stays borrowed
    const std::lock_guard lock(block->mutex);
    block->frame = std::move(frame);
    block->size = all.size();
    block->ranges = std::move(ranges);
    block->json = true;
    block->bodies.clear();
    block->owner.reset(); // the last block's lets go of the bytes, after the lock (`owner` above)
}

struct JobTextPacker::Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<QList<std::shared_ptr<JobText::Block>>, std::function<void()>>> work;
    bool busy = false;
    std::atomic<bool> stop = false;
};

JobTextPacker::~JobTextPacker()
{
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(queue_->mutex);
        queue_->stop = true;
    }
    queue_->wake.notify_all();
    thread_.join();
}

void JobTextPacker::add(QList<std::shared_ptr<JobText::Block>> blocks, std::function<void()> then)
{
    if (!queue_)
        queue_ = std::make_shared<Queue>();
    {
        const std::lock_guard lock(queue_->mutex);
        queue_->work.emplace_back(std::move(blocks), std::move(then));
    }
    queue_->wake.notify_all();
    if (thread_.joinable())
        return;
    thread_ = std::thread([queue = queue_] {
        runBelowInterfacePriority();
        std::unique_lock lock(queue->mutex);
        for (;;) {
            queue->wake.wait(lock, [&] { return queue->stop || !queue->work.empty(); });
            if (queue->stop)
                return;
            auto [blocks, then] = std::move(queue->work.front());
            queue->work.pop_front();
            queue->busy = true;
            lock.unlock();
            for (const std::shared_ptr<JobText::Block> &block : std::as_const(blocks)) {
                if (queue->stop)
                    break;
                JobText::packBlock(block);
            }
            blocks.clear(); // the bytes they borrowed may go here
            if (then && !queue->stop)
                then();
            lock.lock();
            queue->busy = false;
            queue->wake.notify_all();
        }
    });
}

void JobTextPacker::finish()
{
    if (!queue_)
        return;
    std::unique_lock lock(queue_->mutex);
    queue_->wake.wait(lock, [this] { return queue_->work.empty() && !queue_->busy; });
}

void JobTextGate::open(bool good)
{
    {
        const std::lock_guard lock(mutex_);
        state_ = good ? 1 : 2;
    }
    opened_.notify_all();
}

bool JobTextGate::wait() const
{
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return state_ != 0; });
    return state_ == 1;
}

bool operator==(const JobText &a, const JobText &b)
{
    if (a.block_ && a.block_ == b.block_ && a.index_ == b.index_)
        return true;
    if (!a.block_ && !b.block_) // copies of one text share it: no need to read it through
        return (a.plain_.constData() == b.plain_.constData() && a.plain_.size() == b.plain_.size())
               || a.plain_ == b.plain_;
    return a.toString() == b.toString();
}

} // namespace pendrel
