#include "fs/block_reader.h"

#include <unistd.h>

#include <algorithm>

namespace sorvin::fs {

BlockReader::BlockReader(std::unique_ptr<Reader> reader, std::uint64_t length, std::size_t block)
    : reader_(std::move(reader)), length_(length), block_(block)
{
}

BlockReader::~BlockReader()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BlockReader::readBlock()
{
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block_, length_ - position_));
    if (want == 0) return false;
    const std::size_t slot = static_cast<std::size_t>(produced_ % kSlots);
    auto& buffer = buffers_[slot];
    if (!buffer) buffer.emplace(static_cast<std::size_t>(std::min<std::uint64_t>(block_, length_)));
    const std::size_t got = reader_->read(buffer->data(), want);
    if (got == 0) return false;  // the file shrank meanwhile
    sizes_[slot] = got;
    position_ += got;
    return true;
}

void BlockReader::readAll()
{
    try {
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stopping_ || produced_ - consumed_ < kSlots; });
                if (stopping_) return;
            }
            // The slot of block produced_ is neither held by the consumer nor awaiting it.
            if (!readBlock()) break;
            {
                std::lock_guard lock(mutex_);
                ++produced_;
            }
            changed_.notify_all();
        }
    } catch (...) {
        std::lock_guard lock(mutex_);
        error_ = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

void BlockReader::readAhead()
{
    if (thread_.joinable() || finished_ || mapped_ != Mapped::No) return;
    thread_ = std::thread([this] { readAll(); });
}

void BlockReader::mapRest()
{
    if (thread_.joinable() || finished_) return;
    if (position_ % static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) == 0) mapped_ = Mapped::Wanted;
}

std::span<const unsigned char> BlockReader::next()
{
    if (mapped_ != Mapped::No) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kMapped, length_ - position_));
        mapping_.reset();
        if (auto next = want > 0 ? reader_->map(position_, want) : std::nullopt) mapping_.emplace(std::move(*next));
        if (mapping_) {
            mapped_ = Mapped::Yes;
            position_ += mapping_->bytes().size();
            return mapping_->bytes();
        }
        if (mapped_ == Mapped::Yes || want == 0) {
            finished_ = true;
            return {};
        }
        mapped_ = Mapped::No;  // a file that cannot be mapped is read
    }
    if (!thread_.joinable()) {
        if (finished_) return {};
        // Read here, into the slot the reading side would use, so that readAhead() can follow.
        if (holding_) ++consumed_;
        holding_ = false;
        if (!readBlock()) {
            finished_ = true;
            return {};
        }
        ++produced_;
    } else {
        std::unique_lock lock(mutex_);
        if (holding_) {
            ++consumed_;
            holding_ = false;
            lock.unlock();
            changed_.notify_all();
            lock.lock();
        }
        changed_.wait(lock, [this] { return produced_ > consumed_ || finished_; });
        if (produced_ == consumed_) {
            if (error_) std::rethrow_exception(error_);
            return {};
        }
    }
    holding_ = true;
    const std::size_t slot = static_cast<std::size_t>(consumed_ % kSlots);
    return {buffers_[slot]->data(), sizes_[slot]};
}

}  // namespace sorvin::fs
