// File bytes mapped into memory, so that a pass over them (the checksum) reads the page cache in
// place instead of copying it out first. The pages of a mapping vanish when the file is truncated
// meanwhile or its disk fails: touching one then raises SIGBUS, which would end the program. So
// mapped bytes are touched only inside touch(), which turns that into the read failure a read(2)
// would have given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

namespace sorvin::fs {

class Mapping {
public:
    // Maps n bytes of the open file `fd` from `offset` (a multiple of the page size), faulting
    // them in at once. `path` names the file in the read failure.
    Mapping(int fd, std::uint64_t offset, std::size_t n, std::string path);
    ~Mapping();
    Mapping(Mapping&& other) noexcept;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    Mapping& operator=(Mapping&&) = delete;

    std::span<const unsigned char> bytes() const { return {data_, size_}; }

    // Runs work(), which reads this mapping's bytes. Throws FsError("read", EIO) when a page of it
    // is gone; work is then left where it was, so it must not have changed anything it cannot
    // lose (the checksum assigns its new value only once the fold returns).
    template <class Work>
    void touch(Work&& work) const
    {
        using Callable = std::remove_reference_t<Work>;
        if (!Touch([](void* w) { (*static_cast<Callable*>(w))(); }, &work)) failRead();
    }

private:
    // false when SIGBUS cut the call short.
    static bool Touch(void (*call)(void*), void* context);
    [[noreturn]] void failRead() const;

    const unsigned char* data_;
    std::size_t size_;
    std::string path_;
};

}  // namespace sorvin::fs
