#include "model/JobText.h"

#include <zstd.h>

#include <QList>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace pendrel {

struct JobText::Pack {
    QByteArray frame; // one zstd frame of the texts' UTF-8, one after the other
    qsizetype size = 0; // the unpacked size
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

// The last block unpacked on this thread: writing a job reads each of its
// texts in turn, and unpacking the block once serves them all.
struct LastUnpacked {
    std::weak_ptr<const void> pack;
    const void *raw = nullptr;
    QByteArray bytes;
};

} // namespace

QByteArray JobText::unpacked() const
{
    thread_local LastUnpacked last;
    if (last.raw == pack_.get() && !last.pack.expired())
        return last.bytes;
    QByteArray bytes(pack_->size, Qt::Uninitialized);
    const size_t n = ZSTD_decompressDCtx(contexts().decompress, bytes.data(), size_t(bytes.size()),
                                         pack_->frame.constData(), size_t(pack_->frame.size()));
    // The frame is ours, made in this process: a failure here is memory gone bad.
    if (ZSTD_isError(n) || qsizetype(n) != pack_->size)
        throw std::runtime_error("a packed job text could not be unpacked");
    last.pack = pack_;
    last.raw = pack_.get();
    last.bytes = bytes;
    return bytes;
}

QString JobText::toString() const
{
    if (!pack_)
        return plain_;
    const QByteArray bytes = unpacked();
    return QString::fromUtf8(bytes.constData() + from_, to_ - from_);
}

void JobText::unpack()
{
    if (!pack_)
        return;
    plain_ = toString();
    pack_.reset();
    from_ = to_ = 0;
}

void JobText::packTogether(std::initializer_list<JobText *> texts)
{
    const bool packed = std::all_of(texts.begin(), texts.end(), [](const JobText *t) { return !t || t->pack_; });
    if (packed)
        return;
    QByteArray all;
    QList<std::pair<qsizetype, qsizetype>> ranges;
    for (JobText *text : texts) {
        if (!text)
            continue;
        const qsizetype from = all.size();
        all += text->toString().toUtf8();
        ranges.append({from, all.size()});
    }
    if (ranges.isEmpty())
        return;
    auto pack = std::make_shared<Pack>();
    pack->size = all.size();
    pack->frame.resize(qsizetype(ZSTD_compressBound(size_t(all.size()))));
    const size_t n = ZSTD_compressCCtx(contexts().compress, pack->frame.data(), size_t(pack->frame.size()),
                                       all.constData(), size_t(all.size()), kLevel);
    if (ZSTD_isError(n))
        return; // kept as they are
    pack->frame.truncate(qsizetype(n));
    pack->frame.squeeze();
    qsizetype i = 0;
    for (JobText *text : texts) {
        if (!text)
            continue;
        text->plain_ = QString();
        text->pack_ = pack;
        text->from_ = ranges.at(i).first;
        text->to_ = ranges.at(i).second;
        ++i;
    }
}

bool operator==(const JobText &a, const JobText &b)
{
    if (a.pack_ && b.pack_) {
        if (a.pack_ == b.pack_ && a.from_ == b.from_ && a.to_ == b.to_)
            return true;
        if (a.to_ - a.from_ != b.to_ - b.from_)
            return false;
        const QByteArray x = a.unpacked();
        const QByteArray y = b.unpacked();
        return std::memcmp(x.constData() + a.from_, y.constData() + b.from_, size_t(a.to_ - a.from_)) == 0;
    }
    if (!a.pack_ && !b.pack_) // copies of one text share it: no need to read it through
        return (a.plain_.constData() == b.plain_.constData() && a.plain_.size() == b.plain_.size())
               || a.plain_ == b.plain_;
    return a.toString() == b.toString();
}

} // namespace pendrel
