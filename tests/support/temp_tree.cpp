#include "support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>

namespace sorvin::test {

TempTree::TempTree(const stdfs::path& base)
{
    std::string tmpl = (base / "sorvin-test-XXXXXX").native();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed under " + base.native());
    root_ = tmpl;
}

TempTree::~TempTree() { RemoveTree(root_); }

std::string TempTree::folder(const stdfs::path& rel) const
{
    std::string s = (rel.empty() ? root_ : root_ / rel).native();
    if (s.back() != '/') s += '/';
    return s;
}

stdfs::path TempTree::write(const stdfs::path& rel, const std::string& bytes) const
{
    stdfs::path p = root_ / rel;
    stdfs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p.native());
    return p;
}

stdfs::path TempTree::mkdir(const stdfs::path& rel) const
{
    stdfs::path p = root_ / rel;
    stdfs::create_directories(p);
    return p;
}

std::string ReadFile(const stdfs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.native());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> ListTree(const stdfs::path& folder)
{
    std::vector<std::string> out;
    for (auto it = stdfs::recursive_directory_iterator(folder); it != stdfs::recursive_directory_iterator(); ++it) {
        std::string rel = stdfs::relative(it->path(), folder).native();
        if (it->is_directory() && !it->is_symlink()) rel += '/';
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string Bytes(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

bool SetImmutable(const stdfs::path& p, bool on)
{
    const int fd = open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    const int err = errno;
    close(fd);
    errno = err;
    return done;
}

bool HaveSecondFileSystem()
{
    struct stat a {}, b {};
    return stat(stdfs::temp_directory_path().c_str(), &a) == 0 && stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev;
}

namespace {

// Calls `visit(folderFd, name, stat)` for every entry below the open folder `fd`, children of a
// folder before the folder itself. Entries are read before any is visited, so visits may remove.
template <class Visit>
void WalkAt(int fd, const std::string& path, Visit&& visit)
{
    std::vector<std::string> names;
    if (DIR* d = fdopendir(dup(fd))) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(d);
    }
    for (const auto& name : names) {
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            fchmodat(fd, name.c_str(), 0700, 0);  // tests leave folders without rights behind
            const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                WalkAt(sub, path + "/" + name, visit);
                close(sub);
            }
        }
        visit(fd, path + "/" + name, name, st);
    }
}

std::string ReadAt(int fd, const std::string& name)
{
    std::string bytes;
    const int f = openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (f < 0) return "<unreadable>";
    char buf[65536];
    for (ssize_t n; (n = read(f, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<std::size_t>(n));
    close(f);
    return bytes;
}

}  // namespace

Contents ReadContents(const std::vector<stdfs::path>& roots)
{
    Contents contents;
    for (const auto& root : roots) {
        const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) continue;
        WalkAt(fd, root.native(), [&](int at, const std::string& path, const std::string& name, const struct stat& st) {
            if (S_ISREG(st.st_mode)) {
                contents[path] = ReadAt(at, name);
            } else if (S_ISLNK(st.st_mode)) {
                std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
                const ssize_t n = readlinkat(at, name.c_str(), target.data(), target.size());
                target.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
                contents[path] = "-> " + target;
            } else if (!S_ISDIR(st.st_mode)) {
                contents[path] = S_ISFIFO(st.st_mode) ? "<fifo>" : S_ISSOCK(st.st_mode) ? "<socket>" : "<device>";
            }
        });
        close(fd);
    }
    return contents;
}

std::vector<std::string> Lost(const Contents& before, const Contents& after)
{
    std::set<std::string_view> held;
    for (const auto& [path, bytes] : after) held.insert(bytes);
    std::vector<std::string> lost;
    for (const auto& [path, bytes] : before)
        if (!held.contains(bytes)) lost.push_back(path);
    return lost;
}

void RemoveTree(const stdfs::path& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            WalkAt(fd, path.native(), [](int at, const std::string&, const std::string& name, const struct stat& s) {
                unlinkat(at, name.c_str(), S_ISDIR(s.st_mode) ? AT_REMOVEDIR : 0);
            });
            close(fd);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace sorvin::test
