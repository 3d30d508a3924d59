#include "fs/mapping.h"

#include <sys/mman.h>

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <mutex>
#include <utility>

#include "fs/errors.h"

namespace sorvin::fs {

namespace {

// Where a SIGBUS on this thread jumps back to while a touch runs; null outside one.
thread_local sigjmp_buf* touching = nullptr;

void OnBusError(int, siginfo_t*, void*)
{
    if (touching != nullptr) siglongjmp(*touching, 1);
    // Not a mapped file's page: end the program as the signal would have.
    std::signal(SIGBUS, SIG_DFL);
    std::raise(SIGBUS);
}

void CatchBusErrors()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
}

}  // namespace

Mapping::Mapping(int fd, std::uint64_t offset, std::size_t n, std::string path)
    : data_(nullptr), size_(n), path_(std::move(path))
{
    CatchBusErrors();
    void* p = ::mmap(nullptr, n, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(offset));
    if (p == MAP_FAILED) throw FsError("mmap", errno, path_);
    data_ = static_cast<const unsigned char*>(p);
}

Mapping::Mapping(Mapping&& other) noexcept : data_(other.data_), size_(other.size_), path_(std::move(other.path_))
{
    other.data_ = nullptr;
}

Mapping::~Mapping()
{
    if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), size_);
}

bool Mapping::Touch(void (*call)(void*), void* context)
{
    sigjmp_buf jump;
    sigjmp_buf* const outer = touching;
    if (sigsetjmp(jump, 1) != 0) {
        touching = outer;
        return false;
    }
    touching = &jump;
    call(context);
    touching = outer;
    return true;
}

void Mapping::failRead() const
{
    throw FsError("read", EIO, path_);
}

}  // namespace sorvin::fs
