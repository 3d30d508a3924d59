#include "fs/posix_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>

#include "fs/page_buffer.h"

namespace sorvin::fs {

namespace {

constexpr std::size_t kChunk = 8u << 20;        // most bytes between two progress calls
constexpr std::size_t kBufferSize = 256u << 10; // when the kernel cannot copy for us
constexpr std::size_t kNameMax = 255;

[[noreturn]] void Fail(const char* call, const Path& p, int err = errno) { throw FsError(call, err, p); }

bool IsAbsent(int err) { return err == ENOENT || err == ENOTDIR; }

// False when nothing is there; any other failure is an error, not an answer.
bool StatIfPresent(const Path& p, struct stat& st, bool followLinks)
{
    if ((followLinks ? ::stat(p.c_str(), &st) : ::lstat(p.c_str(), &st)) == 0) return true;
    if (IsAbsent(errno)) return false;
    Fail(followLinks ? "stat" : "lstat", p);
}

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
    // Network file systems may report a failed write-back only here.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

DirHandle OpenDir(const Path& folder)
{
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) Fail("opendir", folder);
    return dir;
}

// The next entry other than "." and "..", or nullptr at the end.
const dirent* NextEntry(DIR* dir, const Path& folder)
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

std::string ReadLink(const Path& p, off_t sizeHint)
{
    // st_size is only a hint: some file systems report 0 for links.
    std::string text(static_cast<std::size_t>(std::max<off_t>(sizeHint, 63)) + 1, '\0');
    for (;;) {
        const ssize_t n = ::readlink(p.c_str(), text.data(), text.size());
        if (n < 0) Fail("readlink", p);
        if (static_cast<std::size_t>(n) < text.size()) {
            text.resize(static_cast<std::size_t>(n));
            return text;
        }
        text.resize(text.size() * 2);
    }
}

// Opening a FIFO for reading blocks and opening a device can act on it, so callers lstat first;
// O_NONBLOCK keeps an entry swapped for a FIFO since then from hanging us here.
Fd OpenRegularForReading(const Path& p, struct stat& st)
{
    Fd fd(::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) Fail("open", p);
    if (::fstat(fd.get(), &st) != 0) Fail("fstat", p);
    if (!S_ISREG(st.st_mode)) Fail("open", p, EINVAL);
    if (::fcntl(fd.get(), F_SETFL, 0) != 0) Fail("fcntl", p);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

class FileReader final : public Reader {
public:
    FileReader(Fd fd, Path path) : fd_(std::move(fd)), path_(std::move(path)) {}

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

private:
    Fd fd_;
    Path path_;
};

Path FolderOf(const Path& p) { return p.has_parent_path() ? p.parent_path() : Path("."); }

void SyncFolder(const Path& folder)
{
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) Fail("open", folder);
    if (::fsync(fd.get()) != 0) Fail("fsync", folder);
}

void SyncFolderOf(const Path& p) { SyncFolder(FolderOf(p)); }

// A file's data; a link has none of its own (its folder's sync holds it).
void SyncFile(const Path& p)
{
    Fd fd(::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ELOOP) return;
        Fail("open", p);
    }
    if (::fsync(fd.get()) != 0) Fail("fsync", p);
}

// Whether syncfs(2) puts everything written to this file system on its disk. Only local file
// systems are trusted with it: on FUSE it does not reach the server (fsync does), and network
// file systems differ in what they promise.
bool SyncfsTrusted(const Path& folder)
{
    struct statfs sf;
    if (::statfs(folder.c_str(), &sf) != 0) return false;
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
    explicit RemoveUnlessKept(Path p) : path_(std::move(p)) {}
    ~RemoveUnlessKept()
    {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    RemoveUnlessKept(const RemoveUnlessKept&) = delete;
    RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;

    void keep() { path_.clear(); }

private:
    Path path_;
};

// Calls progress and polls the cancel flag, as every copy step must.
class Reporter {
public:
    Reporter(std::uint64_t total, const CopyProgress& progress, const volatile std::int32_t* cancel,
             const Path& from)
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
    const volatile std::int32_t* cancel_;
    const Path& from_;
};

// ".<name>.sorvin-XXXXXX<end>", kept within NAME_MAX by shortening <name> on a UTF-8 boundary.
Path TempPathFor(const Path& to, std::string_view kEnd = ".part")
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static constexpr std::string_view kMiddle = ".sorvin-";
    thread_local std::mt19937 random{std::random_device{}()};

    std::string name = to.filename().native();
    const std::size_t room = kNameMax - 1 - kMiddle.size() - 6 - kEnd.size();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string temp = "." + name + std::string(kMiddle);
    for (int i = 0; i < 6; ++i) temp += kAlphabet[pick(random)];
    temp += kEnd;
    return to.parent_path() / temp;
}

bool KernelCopyUnsupported(int err)
{
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF;
}

// Which side a failure of a two-sided call most likely belongs to, for the message.
const Path& SideOf(int err, const Path& from, const Path& to)
{
    return err == ENOSPC || err == EDQUOT || err == EFBIG || err == EROFS ? to : from;
}

void WriteAll(int fd, const char* data, std::size_t n, const Path& to)
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
std::size_t ReadWriteChunk(int in, int out, const Path& from, const Path& to)
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

// With `writeBack`, each chunk's write-back to the disk starts as soon as it is written, so that
// the fsync at the end has little left to wait for; a hint only: its failures are the fsync's.
void CopyData(int in, int out, std::uint64_t total, Reporter& report, const Path& from, const Path& to,
              bool writeBack)
{
    report(0);
    CopyWay way = CopyWay::KernelCopy;
    std::uint64_t done = 0;
    for (;;) {
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
        if (n == 0) return;
        if (writeBack) ::sync_file_range(out, static_cast<off_t>(done), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
        done += n;
        report(done);
    }
}

// A file system that cannot store modes or times (FAT; fusefat has no chmod at all) still gets
// the data.
void KeepAttributes(int fd, const struct stat& st, const Path& to)
{
    auto tolerated = [](int err) { return err == EPERM || err == EOPNOTSUPP || err == ENOSYS; };
    if (::fchmod(fd, st.st_mode & 07777) != 0 && !tolerated(errno)) Fail("chmod", to);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(fd, times) != 0 && !tolerated(errno)) Fail("utimens", to);
}

// A program that still writes to the source (a download, a recorder) would go on writing into a
// file without a name once the source is deleted. A read lease is refused exactly while some
// process has the file open for writing; where no lease can be had for another reason (not the
// file's owner, a file system without leases), the check after the copy still holds.
void RefuseIfOpenForWriting(int fd, const Path& from)
{
    // Should a writer open the file while the lease is held, the kernel signals the holder: a
    // signal whose default is to be ignored keeps that from ending the program.
    ::fcntl(fd, F_SETSIG, SIGURG);
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return;
    }
    if (errno == EAGAIN) Fail("lease", from, EBUSY);
}

// Seen through the open file, so a replaced name cannot hide a change.
void RefuseIfChanged(int fd, const struct stat& before, const Path& from)
{
    struct stat after;
    if (::fstat(fd, &after) != 0) Fail("fstat", from);
    auto same = [](const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    if (after.st_size != before.st_size || !same(after.st_mtim, before.st_mtim) || !same(after.st_ctim, before.st_ctim))
        Fail("copy", from, EBUSY);
}

void CopyLink(const Path& from, const Path& to, const struct stat& st, const CopyProgress& progress,
              const volatile std::int32_t* cancel, Durability durability)
{
    const std::string target = ReadLink(from, st.st_size);
    Reporter report(target.size(), progress, cancel, from);
    report(0);
    if (::symlink(target.c_str(), to.c_str()) != 0) Fail("symlink", to);
    RemoveUnlessKept created(to);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);  // a link's time is not worth failing for
    report(target.size());
    if (durability == Durability::Synced) SyncFolderOf(to);
    created.keep();
}

}  // namespace

bool PosixFs::fileExists(const Path& p)
{
    struct stat st;
    return StatIfPresent(p, st, false) && !S_ISDIR(st.st_mode);
}

bool PosixFs::folderExists(const Path& p)
{
    struct stat st;
    return StatIfPresent(p, st, true) && S_ISDIR(st.st_mode);
}

EntryType PosixFs::entryType(const Path& p)
{
    struct stat st;
    if (!StatIfPresent(p, st, false)) return EntryType::None;
    return S_ISDIR(st.st_mode) ? EntryType::Folder : EntryType::File;
}

std::uint64_t PosixFs::fileSize(const Path& p)
{
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) Fail("lstat", p);
    return static_cast<std::uint64_t>(st.st_size);
}

Identity PosixFs::identity(const Path& p, bool followLinks)
{
    struct stat st;
    if ((followLinks ? ::stat(p.c_str(), &st) : ::lstat(p.c_str(), &st)) != 0) Fail(followLinks ? "stat" : "lstat", p);
    return {st.st_dev, st.st_ino};
}

bool PosixFs::sameFolderOtherSpelling(const Path& a, const Path& b)
{
    constexpr decltype(statfs::f_type) kFuseMagic = 0x65735546;
    struct statfs sf;
    if (::statfs(b.c_str(), &sf) != 0 || sf.f_type != kFuseMagic) return false;
    // A folder that cannot be written to receives nothing, so its answer does not matter.
    const Path probe = TempPathFor(b / "probe");
    Fd fd(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return false;
    fd.close();
    struct stat st;
    const bool seen = ::lstat((a / probe.filename()).c_str(), &st) == 0;
    ::unlink(probe.c_str());
    return seen;
}

Listing PosixFs::list(const Path& folder)
{
    DirHandle dir = OpenDir(folder);
    std::vector<std::string> files;
    std::vector<std::string> folders;
    while (const dirent* e = NextEntry(dir.get(), folder)) {
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;  // removed since the folder was read
                Fail("lstat", folder / e->d_name);
            }
            isFolder = S_ISDIR(st.st_mode);
        }
        (isFolder ? folders : files).emplace_back(e->d_name);
    }
    dir.reset();

    const std::string prefix = folder.native().ends_with('/') ? folder.native() : folder.native() + '/';
    auto toPaths = [&prefix](std::vector<std::string>& names) {
        std::sort(names.begin(), names.end());
        for (auto& name : names) name.insert(0, prefix);
        return std::move(names);
    };
    return Listing{toPaths(files), toPaths(folders)};
}

bool PosixFs::folderIsEmpty(const Path& folder)
{
    DirHandle dir = OpenDir(folder);
    return NextEntry(dir.get(), folder) == nullptr;
}

void PosixFs::createFolder(const Path& p)
{
    if (::mkdir(p.c_str(), 0777) != 0) Fail("mkdir", p);
}

void PosixFs::removeEmptyFolder(const Path& p)
{
    if (::rmdir(p.c_str()) != 0) Fail("rmdir", p);
}

void PosixFs::renameNoReplace(const Path& from, const Path& to)
{
    // Where the first way works (ext4, xfs, tmpfs, ...) it is the one system call made.
    struct stat st;
    bool looked = false;
    auto look = [&] {
        if (!looked && ::lstat(from.c_str(), &st) != 0) Fail("lstat", from);
        looked = true;
    };
    Placement way = first_;
    if (!refused_.empty()) {
        look();
        if (const auto known = refused_.find(st.st_dev); known != refused_.end()) way = std::max(way, known->second);
    }

    if (way == Placement::Exclusive) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
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
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) != 0) {
                const int unlinkErr = errno;
                ::unlink(to.c_str());
                Fail("unlink", from, unlinkErr);
            }
            return;
        }
        const int err = errno;
        if (err != EPERM && err != EOPNOTSUPP && err != ENOSYS) Fail("link", err == EEXIST ? to : from, err);
        known = Placement::Placeholder;
    }

    // The kernel refuses O_EXCL whatever holds the name, so the claim replaces nothing; the file
    // then replaces only the claim, which is ours. One race remains that no way can close on such
    // a file system: another program deleting the claim and putting its own file there between
    // the two steps. A crash between them leaves the empty claim, never a partial file.
    Fd claim(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (claim.get() < 0) Fail("open", to);
    struct stat ours;
    if (::fstat(claim.get(), &ours) != 0) {
        const int err = errno;
        ::unlink(to.c_str());
        Fail("fstat", to, err);
    }
    claim.close();
    // Still the empty claim we made: a file another program put there since is left alone.
    auto stillOurs = [&] {
        struct stat there;
        return ::lstat(to.c_str(), &there) == 0 && there.st_ino == ours.st_ino && S_ISREG(there.st_mode) && there.st_size == 0;
    };
    if (!stillOurs()) Fail("rename", to, EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int err = errno;
        if (stillOurs()) ::unlink(to.c_str());
        Fail("rename", from, err);
    }
}

void PosixFs::deleteFile(const Path& p)
{
    if (::unlink(p.c_str()) != 0) Fail("unlink", p);
}

bool PosixFs::deleteDuplicate(const Path& file, const Path& keep)
{
    struct stat fileSt, keepSt;
    if (::lstat(file.c_str(), &fileSt) != 0) Fail("lstat", file);
    if (::lstat(keep.c_str(), &keepSt) != 0) Fail("lstat", keep);
    if (fileSt.st_dev != keepSt.st_dev) {
        deleteFile(file);
        return true;
    }
    // On one file system the two names may be one entry: on a file system that ignores letter
    // case, a.jpg and A.JPG are the same file, and some servers even give each spelling its own
    // inode number. Moving the file aside shows it: if `keep` goes with it, it was the file
    // itself, and it goes back.
    Path aside;
    for (int attempt = 0;; ++attempt) {
        aside = TempPathFor(file, ".dup");
        try {
            renameNoReplace(file, aside);
            break;
        } catch (const FsError& e) {
            if (e.error() != EEXIST || attempt == 100) throw FsError(e.call(), e.error(), file);
        }
    }
    struct stat st;
    if (StatIfPresent(keep, st, false)) {
        deleteFile(aside);
        return true;
    }
    try {
        renameNoReplace(aside, file);
    } catch (const FsError& e) {
        throw FsError(e.call(), e.error(), file);
    }
    return false;
}

std::unique_ptr<Reader> PosixFs::openRead(const Path& p)
{
    // A link is gathered as a link, so its content is the text it points with.
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) Fail("lstat", p);
    if (S_ISLNK(st.st_mode)) return std::make_unique<TextReader>(ReadLink(p, st.st_size));
    if (!S_ISREG(st.st_mode)) Fail("open", p, EINVAL);
    Fd fd = OpenRegularForReading(p, st);
    return std::make_unique<FileReader>(std::move(fd), p);
}

void PosixFs::copyFile(const Path& from, const Path& to, const CopyProgress& progress,
                       const volatile std::int32_t* cancel, Durability durability)
{
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) Fail("lstat", from);
    if (S_ISLNK(st.st_mode)) return CopyLink(from, to, st, progress, cancel, durability);
    if (!S_ISREG(st.st_mode)) Fail("copy", from, EINVAL);
    struct stat existing;
    if (StatIfPresent(to, existing, false)) Fail("copy", to, EEXIST);

    Fd in = OpenRegularForReading(from, st);
    if (durability != Durability::Normal) RefuseIfOpenForWriting(in.get(), from);
    Path temp;
    Fd out;
    for (int attempt = 0; out.get() < 0; ++attempt) {
        temp = TempPathFor(to);
        out = Fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.get() < 0 && (errno != EEXIST || attempt == 100)) Fail("open", to);
    }
    RemoveUnlessKept cleanup(temp);

    Reporter report(static_cast<std::uint64_t>(st.st_size), progress, cancel, from);
    CopyData(in.get(), out.get(), static_cast<std::uint64_t>(st.st_size), report, from, to,
             durability != Durability::Normal);
    if (durability != Durability::Normal) RefuseIfChanged(in.get(), st, from);
    KeepAttributes(out.get(), st, to);
    if (durability == Durability::Synced && ::fsync(out.get()) != 0) Fail("fsync", to);
    if (out.close() != 0) Fail("close", to);

    try {
        renameNoReplace(temp, to);
    } catch (const FsError& e) {
        throw FsError(e.call(), e.error(), to);
    }
    cleanup.keep();
    if (durability == Durability::Synced) {
        RemoveUnlessKept placed(to);
        SyncFolderOf(to);
        placed.keep();
    }
}

void PosixFs::makeDurable(const std::vector<Path>& placed)
{
    std::map<Path, std::vector<const Path*>> byFolder;
    for (const auto& p : placed) byFolder[FolderOf(p)].push_back(&p);
    std::set<dev_t> synced;
    for (const auto& [folder, files] : byFolder) {
        struct stat st;
        if (::stat(folder.c_str(), &st) != 0) Fail("stat", folder);
        if (synced.contains(st.st_dev)) continue;
        if (SyncfsTrusted(folder)) {
            Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fd.get() < 0) Fail("open", folder);
            // A failure may be another program's file: the files are then synced one by one,
            // which tells whether ours are on the disk.
            if (::syncfs(fd.get()) == 0) {
                synced.insert(st.st_dev);
                continue;
            }
        }
        for (const Path* file : files) SyncFile(*file);
        SyncFolder(folder);
    }
}

}  // namespace sorvin::fs
