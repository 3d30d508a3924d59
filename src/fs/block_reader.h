// Reads a file in page-aligned blocks for a consumer that works on each block in turn (folds it
// into a checksum, compares it). At first each block is read when asked for; after readAhead() the
// next block is read on a second thread while the consumer works on this one, so the two overlap
// instead of adding up. The reads go through the Reader the file system gave either way, so a read
// that fails there fails here too: its error reaches the consumer in order, after every block
// read before it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "fs/file_system.h"
#include "fs/page_buffer.h"

namespace sorvin::fs {

class BlockReader {
public:
    // 256 KiB: two of them stay in the processor's second-level cache between the kernel's copy
    // and the consumer's pass; 128 KiB to 1 MiB measured alike, smaller ones cost more calls.
    static constexpr std::size_t kBlock = 256 * 1024;

    // Reads at most `length` bytes (the size the caller found).
    BlockReader(std::unique_ptr<Reader> reader, std::uint64_t length, std::size_t block = kBlock);
    // Stops reading ahead; waits for a read under way to return.
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The next block, valid until the next call; empty at the end of the file (or of `length`).
    // Throws the failure of the read that would have given it.
    std::span<const unsigned char> next();

    // From here on, reads the next block ahead on a second thread. Worth it only when the
    // consumer's work on a block costs a fair share of reading it: the data then crosses from
    // one processor core's cache to the other's.
    void readAhead();
    bool readingAhead() const { return thread_.joinable(); }

    // From here on, maps the file's blocks instead of reading them, where the file system can,
    // so nothing is copied: where the consumer's work is cheap, the copy out of the page cache is
    // most of the cost. Needs the bytes given so far to end on a page boundary.
    void mapRest();
    bool mapping() const { return mapped_ == Mapped::Yes; }

    // Runs work(), which reads the block next() gave. A mapped block throws the read failure
    // when its pages vanish under work (the file truncated meanwhile, a failing disk).
    template <class Work>
    void touch(Work&& work) const
    {
        if (mapping_) mapping_->touch(work);
        else work();
    }

private:
    static constexpr std::uint64_t kSlots = 2;
    // 8 MiB: each mapping costs a call and its undoing; bigger ones measured no faster.
    static constexpr std::size_t kMapped = 8 << 20;

    // Fills the slot of block produced_; false at the end.
    bool readBlock();
    void readAll();

    std::unique_ptr<Reader> reader_;
    const std::uint64_t length_;
    const std::size_t block_;
    std::optional<PageBuffer> buffers_[kSlots];  // each made when first filled
    std::size_t sizes_[kSlots] = {};
    std::uint64_t position_ = 0;  // bytes read so far

    // produced_ changes only on the reading side, consumed_ only on the consumer's.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t produced_ = 0;  // blocks read
    std::uint64_t consumed_ = 0;  // blocks the consumer is done with; it holds the one after
    bool holding_ = false;
    bool finished_ = false;       // no more blocks will come
    bool stopping_ = false;
    std::exception_ptr error_;
    std::thread thread_;
    enum class Mapped { No, Wanted, Yes } mapped_ = Mapped::No;
    std::optional<Mapping> mapping_;  // the block last given, when mapping
};

}  // namespace sorvin::fs
