#include "fs/posix_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "fs/names.h"
#include "fs/page_buffer.h"

namespace sorvin::fs {

namespace {

constexpr std::size_t kChunk = 8u << 20;        // most bytes between two progress calls
constexpr std::size_t kBufferSize = 256u << 10; // when the kernel cannot copy for us
constexpr std::size_t kNameMax = 255;
// Below this size a file is read and written in a moment: neither readahead advice, nor early
// write-back, nor releasing a read lease before the file is closed is worth its system call.
constexpr off_t kSmallFile = 256 << 10;

[[noreturn]] void Fail(const char* call, const std::string& p, int err = errno) { throw FsError(call, err, p); }
// The entry's path is built only once errno has been read.
[[noreturn]] void Fail(const char* call, const Entry& e, int err = errno) { throw FsError(call, err, e.path()); }
[[noreturn]] void Fail(const char* call, const Folder& f, int err = errno) { throw FsError(call, err, f.path()); }

bool IsAbsent(int err) { return err == ENOENT || err == ENOTDIR; }


class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    // Network file systems may report a failed write-back only here.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

// An open folder: O_PATH, as stepping through a folder, and naming entries in it, needs no more
// than the search permission a path would need. Its identity cannot change while it is open.
class PosixFolder final : public Folder {
public:
    PosixFolder(Fd fd, std::string path) : Folder(std::move(path)), fd_(std::move(fd))
    {
        struct stat st;
        if (::fstat(fd_.get(), &st) != 0) Fail("fstat", this->path(), errno);
        identity_ = {st.st_dev, st.st_ino};
    }

    int fd() const { return fd_.get(); }
    const Identity& identity() const { return identity_; }
    // Asked once per folder: every file of a folder is checked against the destination.
    bool onFuse() const
    {
        constexpr decltype(statfs::f_type) kFuseMagic = 0x65735546;
        struct statfs sf;
        if (!onFuse_) onFuse_ = ::fstatfs(fd_.get(), &sf) == 0 && sf.f_type == kFuseMagic;
        return *onFuse_;
    }

private:
    Fd fd_;
    Identity identity_;
    mutable std::optional<bool> onFuse_;
};

// Every folder this file system is handed is one it opened.
const PosixFolder& Posix(const Folder& folder) { return static_cast<const PosixFolder&>(folder); }
int At(const Entry& e) { return Posix(e.folder).fd(); }
// C strings for the calls: a name is a view into a longer string as often as not.
std::string Name(const Entry& e) { return std::string(e.name); }

// False when nothing is there; any other failure is an error, not an answer.
bool StatIfPresent(const Entry& e, struct stat& st)
{
    if (::fstatat(At(e), Name(e).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (IsAbsent(errno)) return false;
    Fail("lstat", e);
}

void Lstat(const Entry& e, struct stat& st)
{
    if (::fstatat(At(e), Name(e).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) Fail("lstat", e);
}

// A descriptor the folder can be read or synced through.
Fd OpenForReading(const Folder& folder)
{
    Fd fd(::openat(Posix(folder).fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) Fail("opendir", folder);
    return fd;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

DirHandle OpenDir(const Folder& folder)
{
    Fd fd = OpenForReading(folder);
    DirHandle dir(::fdopendir(fd.get()));
    if (!dir) Fail("opendir", folder);
    fd.release();
    return dir;
}

// The next entry other than "." and "..", or nullptr at the end.
const dirent* NextEntry(DIR* dir, const std::string& folder)
{
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) {
            if (errno != 0) Fail("readdir", folder);
            return nullptr;
        }
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
        return e;
    }
}

std::string ReadLink(const Entry& e, off_t sizeHint)
{
    // st_size is only a hint: some file systems report 0 for links.
    std::string text(static_cast<std::size_t>(std::max<off_t>(sizeHint, 63)) + 1, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(At(e), Name(e).c_str(), text.data(), text.size());
        if (n < 0) Fail("readlink", e);
        if (static_cast<std::size_t>(n) < text.size()) {
            text.resize(static_cast<std::size_t>(n));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

// Opening a FIFO for reading blocks and opening a device can act on it, so callers lstat first;
// O_NONBLOCK keeps an entry swapped for a FIFO since then from hanging us here.
Fd OpenRegularForReading(const Entry& e, struct stat& st)
{
    Fd fd(::openat(At(e), Name(e).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) Fail("open", e);
    if (::fstat(fd.get(), &st) != 0) Fail("fstat", e);
    if (!S_ISREG(st.st_mode)) Fail("open", e, EINVAL);
    if (::fcntl(fd.get(), F_SETFL, 0) != 0) Fail("fcntl", e);
    if (st.st_size >= kSmallFile) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

class FileReader final : public Reader {
public:
    FileReader(Fd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    std::size_t read(void* buffer, std::size_t n) override
    {
        auto* out = static_cast<char*>(buffer);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(fd_.get(), out + got, n - got);
            if (r < 0) {
                if (errno == EINTR) continue;
                Fail("read", path_);
            }
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
        }
        return got;
    }

    std::optional<Mapping> map(std::uint64_t offset, std::size_t n) override
    {
        struct stat st;
        if (::fstat(fd_.get(), &st) != 0) Fail("fstat", path_);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (offset >= size) return std::nullopt;
        return Mapping(fd_.get(), offset, static_cast<std::size_t>(std::min<std::uint64_t>(n, size - offset)), path_);
    }

private:
    Fd fd_;
    std::string path_;
};

void SyncFolder(const Folder& folder)
{
    const Fd fd = OpenForReading(folder);
    if (::fsync(fd.get()) != 0) Fail("fsync", folder);
}

// A file's data; a link has none of its own (its folder's sync holds it).
void SyncFile(const Entry& e)
{
    Fd fd(::openat(At(e), Name(e).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ELOOP) return;
        Fail("open", e);
    }
    if (::fsync(fd.get()) != 0) Fail("fsync", e);
}

// Whether syncfs(2) puts everything written to this file system on its disk. Only local file
// systems are trusted with it: on FUSE it does not reach the server (fsync does), and network
// file systems differ in what they promise.
bool SyncfsTrusted(const Folder& folder)
{
    struct statfs sf;
    if (::fstatfs(Posix(folder).fd(), &sf) != 0) return false;
    switch (static_cast<unsigned long>(sf.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0xF2F52010:  // f2fs
    case 0x01021994:  // tmpfs
    case 0x4D44:      // vfat, msdos
    case 0x2011BAB0:  // exfat
    case 0x7366746E:  // ntfs3
        return true;
    default:
        return false;
    }
}

// Removes what a copy has put in place unless the copy gets to the end.
class RemoveUnlessKept {
public:
    explicit RemoveUnlessKept(const Entry& e) : at_(At(e)), name_(e.name) {}
    ~RemoveUnlessKept()
    {
        if (!name_.empty()) ::unlinkat(at_, name_.c_str(), 0);
    }
    RemoveUnlessKept(const RemoveUnlessKept&) = delete;
    RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;

    void keep() { name_.clear(); }

private:
    int at_;
    std::string name_;
};

// Calls progress and polls the cancel flag, as every copy step must.
class Reporter {
public:
    Reporter(std::uint64_t total, const CopyProgress& progress, const std::atomic<std::int32_t>* cancel,
             const std::string& from)
        : total_(total), progress_(progress), cancel_(cancel), from_(from)
    {
    }

    void operator()(std::uint64_t done)
    {
        total_ = std::max(total_, done);  // the file may grow while we copy it
        if (progress_) progress_(total_, done);
        if (cancel_ && *cancel_ != 0) Fail("copy", from_, ECANCELED);
    }

private:
    std::uint64_t total_;
    const CopyProgress& progress_;
    const std::atomic<std::int32_t>* cancel_;
    const std::string& from_;
};

constexpr std::string_view kTempMiddle = ".sorvin-";
constexpr std::string_view kCopyEnd = ".part";

// ".<name>.sorvin-XXXXXX<end>", kept within NAME_MAX by shortening <name> on a UTF-8 boundary.
std::string TempNameFor(std::string_view to, std::string_view kEnd = kCopyEnd)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};

    std::string name(to);
    const std::size_t room = kNameMax - 1 - kTempMiddle.size() - 6 - kEnd.size();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string temp = "." + name + std::string(kTempMiddle);
    for (int i = 0; i < 6; ++i) temp += kAlphabet[pick(random)];
    temp += kEnd;
    return temp;
}

bool IsCopyTemporary(std::string_view name)
{
    if (name.size() < 2 + kTempMiddle.size() + 6 + kCopyEnd.size() || name[0] != '.' || !name.ends_with(kCopyEnd))
        return false;
    const std::string_view random = name.substr(name.size() - kCopyEnd.size() - 6, 6);
    return name.substr(name.size() - kCopyEnd.size() - 6 - kTempMiddle.size(), kTempMiddle.size()) == kTempMiddle &&
           std::all_of(random.begin(), random.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// A new temporary for `to`, locked for as long as the descriptor stays open, so that a later
// run's removeLeftovers() knows it is being written. The lock comes just after the name exists:
// a sweep that got in between has removed the name by the time the lock is ours, which the link
// count then tells, and another name is made.
Fd CreateTemporary(const Folder& folder, std::string_view to, std::string& tempName)
{
    for (int attempt = 0;; ++attempt) {
        tempName = TempNameFor(to);
        Fd fd(::openat(Posix(folder).fd(), tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            if (errno != EEXIST || attempt == 100) return fd;
            continue;
        }
        // Where the file system has no locks, nothing is removed as a leftover either.
        if (::flock(fd.get(), LOCK_EX) != 0) return fd;
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || st.st_nlink > 0) return fd;
    }
}

bool KernelCopyUnsupported(int err)
{
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF;
}

// Which side a failure of a two-sided call most likely belongs to, for the message.
const std::string& SideOf(int err, const std::string& from, const std::string& to)
{
    return err == ENOSPC || err == EDQUOT || err == EFBIG || err == EROFS ? to : from;
}

void WriteAll(int fd, const char* data, std::size_t n, const std::string& to)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            Fail("write", to);
        }
        if (w == 0) Fail("write", to, ENOSPC);
        data += w;
        n -= static_cast<std::size_t>(w);
    }
}

// Up to one chunk through user space; 0 only at the end of the file.
std::size_t ReadWriteChunk(int in, int out, const std::string& from, const std::string& to)
{
    thread_local PageBuffer buffer(kBufferSize);
    std::size_t moved = 0;
    while (moved < kChunk) {
        const ssize_t r = ::read(in, buffer.data(), buffer.size());
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail("read", from);
        }
        if (r == 0) break;
        WriteAll(out, reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(r), to);
        moved += static_cast<std::size_t>(r);
    }
    return moved;
}

// The ways to move the bytes, fastest first: the file system copies (or shares) them itself; the
// kernel moves them from page cache to page cache (copy_file_range refuses across file systems,
// sendfile does not); they pass through user space.
enum class CopyWay { KernelCopy, SendFile, UserSpace };

struct CopyPlan {
    bool kernelCopy;  // copy_file_range may work between the two file systems
    // A move's copy ends at the size the source had: the check after the copy tells whether it
    // grew. A plain copy takes whatever the file holds by the end.
    bool stopAtSize;
    // Each chunk's write-back to the disk starts as soon as it is written, so that the sync at the
    // end has little left to wait for; a hint only: its failures are the sync's.
    bool writeBack;
};

// Returns false when copy_file_range answered that it cannot copy between the two file systems.
bool CopyData(int in, int out, std::uint64_t total, Reporter& report, const std::string& from, const std::string& to,
              const CopyPlan& plan)
{
    report(0);
    CopyWay way = plan.kernelCopy ? CopyWay::KernelCopy : CopyWay::SendFile;
    bool kernelCopyWorks = plan.kernelCopy;
    std::uint64_t done = 0;
    for (;;) {
        if (plan.stopAtSize && done >= total) return kernelCopyWorks;
        std::size_t n = 0;
        if (way == CopyWay::UserSpace) {
            n = ReadWriteChunk(in, out, from, to);
        } else {
            const bool kernelCopy = way == CopyWay::KernelCopy;
            const ssize_t r = kernelCopy ? ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0)
                                         : ::sendfile(out, in, nullptr, kChunk);
            if (r < 0) {
                if (errno == EINTR) continue;
                if (!KernelCopyUnsupported(errno)) Fail(kernelCopy ? "copy_file_range" : "sendfile", SideOf(errno, from, to));
                if (kernelCopy && errno == EXDEV) kernelCopyWorks = false;
                way = kernelCopy ? CopyWay::SendFile : CopyWay::UserSpace;
                continue;
            }
            // Some file systems answer 0 before the end (procfs, some FUSE); read(2) tells for sure.
            if (r == 0 && done < total) {
                way = CopyWay::UserSpace;
                continue;
            }
            n = static_cast<std::size_t>(r);
        }
        if (n == 0) return kernelCopyWorks;
        if (plan.writeBack) ::sync_file_range(out, static_cast<off_t>(done), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
        done += n;
        report(done);
    }
}

// A file system that cannot store modes or times (FAT; fusefat has no chmod at all) still gets
// the data.
bool AttributeRefused(int err) { return err == EPERM || err == EOPNOTSUPP || err == ENOSYS; }

void KeepAttributes(int fd, const struct stat& st, const std::string& to)
{
    auto tolerated = AttributeRefused;
    if (::fchmod(fd, st.st_mode & 07777) != 0 && !tolerated(errno)) Fail("chmod", to);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(fd, times) != 0 && !tolerated(errno)) Fail("utimens", to);
}

// A program that still writes to the source (a download, a recorder) would go on writing into a
// file without a name once the source is deleted. A read lease is refused exactly while some
// process has the file open for writing; where no lease can be had for another reason (not the
// file's owner, a file system without leases), the check after the copy still holds.
// With `keepLease`, the lease lasts until the file is closed, right after its copy: a writer's
// open meanwhile waits for that close.
void RefuseIfOpenForWriting(int fd, const std::string& from, bool keepLease)
{
    // Should a writer open the file while the lease is held, the kernel signals the holder: a
    // signal whose default is to be ignored keeps that from ending the program.
    ::fcntl(fd, F_SETSIG, SIGURG);
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        if (!keepLease) ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return;
    }
    if (errno == EAGAIN) Fail("lease", from, EBUSY);
}

FileState StateOf(const struct stat& st)
{
    return {{st.st_dev, st.st_ino}, static_cast<std::uint64_t>(st.st_size), st.st_mtim, st.st_ctim, st.st_mode};
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Seen through the open file, so a replaced name cannot hide a change.
void RefuseIfChanged(int fd, const struct stat& before, const std::string& from)
{
    struct stat after;
    if (::fstat(fd, &after) != 0) Fail("fstat", from);
    if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim) || !SameTime(after.st_ctim, before.st_ctim))
        Fail("copy", from, EBUSY);
}

FileState CopyLink(const Entry& from, const Entry& to, const struct stat& st, const CopyProgress& progress,
                   const std::atomic<std::int32_t>* cancel, Durability durability)
{
    const std::string target = ReadLink(from, st.st_size);
    const std::string fromPath = from.path();
    Reporter report(target.size(), progress, cancel, fromPath);
    report(0);
    const std::string toName = Name(to);
    if (::symlinkat(target.c_str(), At(to), toName.c_str()) != 0) Fail("symlink", to);
    RemoveUnlessKept created(to);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(At(to), toName.c_str(), times, AT_SYMLINK_NOFOLLOW);  // a link's time is not worth failing for
    report(target.size());
    if (durability == Durability::Synced) SyncFolder(to.folder);
    created.keep();
    return StateOf(st);
}

// A folder opened for stepping through it, relative to `at` (AT_FDCWD: as a path). A walk holds
// one open per level, two with the structure kept, so a deep tree may need more descriptors than
// the soft limit allows: it is raised to the hard limit the first time it is reached.
Fd OpenFolderAt(int at, const char* name, int flags)
{
    for (;;) {
        Fd fd(::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags));
        if (fd.get() >= 0 || errno != EMFILE) return fd;
        struct rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return fd;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            errno = EMFILE;
            return fd;
        }
    }
}

}  // namespace

FolderPtr PosixFs::openPath(const Path& p)
{
    Fd fd = OpenFolderAt(AT_FDCWD, p.empty() ? "." : p.c_str(), 0);
    if (fd.get() < 0) Fail("open", p.native(), errno);
    return std::make_shared<const PosixFolder>(std::move(fd), WithTrailingSlash(p.native()));
}

FolderPtr PosixFs::openFolder(const Entry& e)
{
    Fd fd = OpenFolderAt(At(e), Name(e).c_str(), O_NOFOLLOW);
    // A link is no folder to enter, whatever it leads to.
    if (fd.get() < 0) Fail("opendir", e, errno == ELOOP ? ENOTDIR : errno);
    return std::make_shared<const PosixFolder>(std::move(fd), e.path() + "/");
}

bool PosixFs::folderExists(const Path& p)
{
    struct stat st;
    if (::stat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (IsAbsent(errno)) return false;
    Fail("stat", p.native());
}

EntryType PosixFs::entryType(const Entry& e)
{
    struct stat st;
    if (!StatIfPresent(e, st)) return EntryType::None;
    return S_ISDIR(st.st_mode) ? EntryType::Folder : EntryType::File;
}

std::uint64_t PosixFs::fileSize(const Entry& e)
{
    struct stat st;
    Lstat(e, st);
    return static_cast<std::uint64_t>(st.st_size);
}

Identity PosixFs::identity(const Entry& e, bool followLinks)
{
    struct stat st;
    if (::fstatat(At(e), Name(e).c_str(), &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        Fail(followLinks ? "stat" : "lstat", e);
    return {st.st_dev, st.st_ino};
}

Identity PosixFs::identity(const Folder& folder) { return Posix(folder).identity(); }

bool PosixFs::sameFolderOtherSpelling(const Folder& a, const Folder& b)
{
    if (!Posix(b).onFuse()) return false;
    // A folder that cannot be written to receives nothing, so its answer does not matter.
    // Made without opening it: a FUSE library hides a file still open when unlinked as a
    // ".fuse_hidden" file, which the walk would then meet in the folder, or which would keep the
    // folder from being removed.
    std::string probe;
    for (int attempt = 0;; ++attempt) {
        probe = TempNameFor("probe");
        if (::mknodat(Posix(b).fd(), probe.c_str(), S_IFREG | 0600, 0) == 0) break;
        if (errno != EEXIST || attempt == 100) return false;
    }
    struct stat st;
    const bool seen = ::fstatat(Posix(a).fd(), probe.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    ::unlinkat(Posix(b).fd(), probe.c_str(), 0);
    return seen;
}

Listing PosixFs::list(const Folder& folder)
{
    DirHandle dir = OpenDir(folder);
    std::vector<std::string> files;
    std::vector<std::string> folders;
    while (const dirent* e = NextEntry(dir.get(), folder.path())) {
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int err = errno;
                if (err == ENOENT) continue;  // removed since the folder was read
                Fail("lstat", folder.path() + e->d_name, err);
            }
            isFolder = S_ISDIR(st.st_mode);
        }
        (isFolder ? folders : files).emplace_back(e->d_name);
    }
    dir.reset();
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    return Listing{std::move(files), std::move(folders)};
}

bool PosixFs::folderIsEmpty(const Folder& folder)
{
    DirHandle dir = OpenDir(folder);
    return NextEntry(dir.get(), folder.path()) == nullptr;
}

void PosixFs::createFolder(const Entry& e)
{
    if (::mkdirat(At(e), Name(e).c_str(), 0777) != 0) Fail("mkdir", e);
}

void PosixFs::removeEmptyFolder(const Entry& e, const Folder& opened)
{
    struct stat st;
    if (!StatIfPresent(e, st) || Identity{st.st_dev, st.st_ino} != Posix(opened).identity()) Fail("rmdir", e.path(), ENOENT);
    if (::unlinkat(At(e), Name(e).c_str(), AT_REMOVEDIR) != 0) Fail("rmdir", e);
}

void PosixFs::renameNoReplace(const Entry& from, const Entry& to)
{
    const std::string fromName = Name(from), toName = Name(to);
    // Where the first way works (ext4, xfs, tmpfs, ...) it is the one system call made.
    struct stat st;
    bool looked = false;
    auto look = [&] {
        if (!looked) Lstat(from, st);
        looked = true;
    };
    Placement way = first_;
    if (!refused_.empty()) {
        look();
        if (const auto known = refused_.find(st.st_dev); known != refused_.end()) way = std::max(way, known->second);
    }

    if (way == Placement::Exclusive) {
        if (::renameat2(At(from), fromName.c_str(), At(to), toName.c_str(), RENAME_NOREPLACE) == 0) return;
        const int err = errno;
        if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) Fail("rename", err == EEXIST ? to : from, err);
        way = Placement::Link;
    }
    look();
    // A folder can neither be linked nor stand in for a claimed file name.
    if (S_ISDIR(st.st_mode)) Fail("rename", from, EINVAL);
    Placement& known = refused_[st.st_dev];
    known = std::max(known, way);

    if (way == Placement::Link) {
        if (::linkat(At(from), fromName.c_str(), At(to), toName.c_str(), 0) == 0) {
            if (::unlinkat(At(from), fromName.c_str(), 0) != 0) {
                const int unlinkErr = errno;
                ::unlinkat(At(to), toName.c_str(), 0);
                Fail("unlink", from, unlinkErr);
            }
            return;
        }
        const int err = errno;
        if (err != EPERM && err != EOPNOTSUPP && err != ENOSYS) Fail("link", err == EEXIST ? to : from, err);
        known = Placement::Placeholder;
    }

    // mknod refuses whatever holds the name, so the claim replaces nothing; the file then replaces
    // only the claim, which is ours. One race remains that no way can close on such a file system:
    // another program deleting the claim and putting its own file there between the two steps. A
    // crash between them leaves the empty claim, never a partial file. The claim is never opened:
    // a FUSE library that still counts it open when the file replaces it keeps it as a
    // ".fuse_hidden" file in the folder.
    if (::mknodat(At(to), toName.c_str(), S_IFREG | 0600, 0) != 0) Fail("mknod", to);
    struct stat ours;
    if (::fstatat(At(to), toName.c_str(), &ours, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        ::unlinkat(At(to), toName.c_str(), 0);
        Fail("lstat", to, err);
    }
    // Still the empty claim we made: a file another program put there since is left alone.
    auto stillOurs = [&] {
        struct stat there;
        return ::fstatat(At(to), toName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && there.st_ino == ours.st_ino &&
               S_ISREG(there.st_mode) && there.st_size == 0;
    };
    if (!stillOurs()) Fail("rename", to, EEXIST);
    if (::renameat(At(from), fromName.c_str(), At(to), toName.c_str()) != 0) {
        const int err = errno;
        if (stillOurs()) ::unlinkat(At(to), toName.c_str(), 0);
        Fail("rename", from, err);
    }
}

void PosixFs::deleteFile(const Entry& e)
{
    if (::unlinkat(At(e), Name(e).c_str(), 0) != 0) Fail("unlink", e);
}

bool PosixFs::unchangedSince(const Entry& e, const FileState& seen)
{
    struct stat st;
    Lstat(e, st);
    return StateOf(st).identity == seen.identity && static_cast<std::uint64_t>(st.st_size) == seen.size &&
           SameTime(st.st_mtim, seen.mtime) && SameTime(st.st_ctim, seen.ctime);
}

FileState PosixFs::state(const Entry& e)
{
    struct stat st;
    Lstat(e, st);
    return StateOf(st);
}

void PosixFs::restoreAttributes(const Entry& e, std::uint32_t mode, const timespec* mtime)
{
    struct stat st;
    Lstat(e, st);
    const std::string name = Name(e);
    if (!S_ISLNK(st.st_mode) && ::fchmodat(At(e), name.c_str(), mode & 07777, 0) != 0 && !AttributeRefused(errno))
        Fail("chmod", e);
    if (!mtime) return;
    const timespec times[2] = {{0, UTIME_OMIT}, *mtime};
    if (::utimensat(At(e), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 && !AttributeRefused(errno)) Fail("utimens", e);
}

bool PosixFs::deleteDuplicate(const Entry& file, const Entry& keep)
{
    struct stat fileSt, keepSt;
    Lstat(file, fileSt);
    Lstat(keep, keepSt);
    if (fileSt.st_dev != keepSt.st_dev) {
        deleteFile(file);
        return true;
    }
    // On one file system the two names may be one entry: on a file system that ignores letter
    // case, a.jpg and A.JPG are the same file, and some servers even give each spelling its own
    // inode number. Moving the file aside shows it: if `keep` goes with it, it was the file
    // itself, and it goes back.
    std::string asideName;
    for (int attempt = 0;; ++attempt) {
        asideName = TempNameFor(file.name, ".dup");
        try {
            renameNoReplace(file, {file.folder, asideName});
            break;
        } catch (const FsError& e) {
            if (e.error() != EEXIST || attempt == 100) throw FsError(e.call(), e.error(), file.path());
        }
    }
    const Entry aside {file.folder, asideName};
    struct stat st;
    if (StatIfPresent(keep, st)) {
        deleteFile(aside);
        return true;
    }
    try {
        renameNoReplace(aside, file);
    } catch (const FsError& e) {
        throw FsError(e.call(), e.error(), file.path());
    }
    return false;
}

std::unique_ptr<Reader> PosixFs::openRead(const Entry& e)
{
    // A link is gathered as a link, so its content is the text it points with.
    struct stat st;
    Lstat(e, st);
    if (S_ISLNK(st.st_mode)) return std::make_unique<TextReader>(ReadLink(e, st.st_size));
    if (!S_ISREG(st.st_mode)) Fail("open", e.path(), EINVAL);
    Fd fd = OpenRegularForReading(e, st);
    return std::make_unique<FileReader>(std::move(fd), e.path());
}

PosixFs::~PosixFs()
{
    for (const auto& [dev, fd] : errorMarks_) ::close(fd);
}

FileState PosixFs::copyFile(const Entry& from, const Entry& to, const CopyProgress& progress,
                            const std::atomic<std::int32_t>* cancel, Durability durability)
{
    if (const dev_t dev = Posix(to.folder).identity().dev; durability == Durability::Deferred && !errorMarks_.contains(dev)) {
        Fd mark(::openat(Posix(to.folder).fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (mark.get() >= 0) errorMarks_[dev] = mark.release();  // else the sync opens one and may hear less
    }
    struct stat st;
    Lstat(from, st);
    if (S_ISLNK(st.st_mode)) return CopyLink(from, to, st, progress, cancel, durability);
    const std::string fromPath = from.path(), toPath = to.path();
    if (!S_ISREG(st.st_mode)) Fail("copy", fromPath, EINVAL);
    // Whatever may stand at `to` by now is found by the final rename, which never replaces.

    Fd in = OpenRegularForReading(from, st);
    const bool move = durability != Durability::Normal;
    const bool small = st.st_size < kSmallFile;
    if (move) RefuseIfOpenForWriting(in.get(), fromPath, small);
    std::string tempName;
    Fd out = CreateTemporary(to.folder, to.name, tempName);
    if (out.get() < 0) Fail("open", toPath);
    const Entry temp {to.folder, tempName};
    RemoveUnlessKept cleanup(temp);

    Reporter report(static_cast<std::uint64_t>(st.st_size), progress, cancel, fromPath);
    const std::pair devices {st.st_dev, Posix(to.folder).identity().dev};
    const bool kernelCopy = !noKernelCopy_.contains(devices);
    if (!CopyData(in.get(), out.get(), static_cast<std::uint64_t>(st.st_size), report, fromPath, toPath,
                  {.kernelCopy = kernelCopy, .stopAtSize = move, .writeBack = move && !small}) &&
        kernelCopy)
        noKernelCopy_.insert(devices);
    if (move) RefuseIfChanged(in.get(), st, fromPath);
    in.close();  // ends the read lease, if kept
    KeepAttributes(out.get(), st, toPath);
    if (durability == Durability::Synced && ::fsync(out.get()) != 0) Fail("fsync", toPath);
    // The lock stays until the temporary has its final name: another run must not take it for
    // a leftover in between.
    const Fd lock(::dup(out.get()));
    if (out.close() != 0) Fail("close", toPath);

    try {
        renameNoReplace(temp, to);
    } catch (const FsError& e) {
        throw FsError(e.call(), e.error(), toPath);
    }
    cleanup.keep();
    if (durability == Durability::Synced) {
        RemoveUnlessKept placed(to);
        SyncFolder(to.folder);
        placed.keep();
    }
    return StateOf(st);
}

void PosixFs::makeDurable(const std::vector<Entry>& placed)
{
    // By folder, however often it was opened: each is synced once, and a file system trusted
    // with syncfs once for all.
    std::map<std::pair<dev_t, ino_t>, std::vector<const Entry*>> byFolder;
    for (const auto& e : placed) byFolder[{Posix(e.folder).identity().dev, Posix(e.folder).identity().ino}].push_back(&e);
    std::map<dev_t, Fd> marks;  // this batch's: closed however the call ends
    for (const auto& [dev, fd] : errorMarks_) marks.emplace(dev, Fd(fd));
    errorMarks_.clear();
    std::set<dev_t> synced, failed;
    for (const auto& [id, files] : byFolder) {
        const dev_t dev = id.first;
        const Folder* folder = &files.front()->folder;
        if (synced.contains(dev)) continue;
        if (!failed.contains(dev) && SyncfsTrusted(*folder)) {
            if (!marks.contains(dev)) marks.emplace(dev, OpenForReading(*folder));
            if (::syncfs(marks.at(dev).get()) == 0) {
                synced.insert(dev);
                continue;
            }
            // It may be another program's file: the files are synced one by one, which tells
            // whether ours are on the disk. The failure is told once, so the file system's other
            // folders are synced that way too.
            failed.insert(dev);
        }
        for (const Entry* file : files) SyncFile(*file);
        SyncFolder(*folder);
    }
}

void PosixFs::removeLeftovers(const Folder& folder)
{
    const int at = Posix(folder).fd();
    DirHandle dir;
    try {
        dir = OpenDir(folder);
    } catch (const FsError&) {
        return;  // a folder that cannot be read has none to remove, as far as anyone can tell
    }
    while (const dirent* e = ::readdir(dir.get())) {
        if (!IsCopyTemporary(e->d_name)) continue;
        const Fd fd(::openat(at, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // still written, or no way to tell
        struct stat held, named;
        if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) continue;
        // Only the file that was locked: the name may have been given to another meanwhile.
        if (::fstatat(at, e->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != held.st_ino ||
            named.st_dev != held.st_dev)
            continue;
        ::unlinkat(at, e->d_name, 0);
    }
}

}  // namespace sorvin::fs
