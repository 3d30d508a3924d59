#include "support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    return s.ends_with('/') ? s : s + '/';
}

stdfs::path TempTree::write(const stdfs::path& rel, const std::string& bytes) const
{
    stdfs::create_directories((root_ / rel).parent_path());
    if (!(std::ofstream(root_ / rel, std::ios::binary) << bytes)) throw std::runtime_error("cannot write " + rel.native());
    return root_ / rel;
}

stdfs::path TempTree::mkdir(const stdfs::path& rel) const { return stdfs::create_directories(root_ / rel), root_ / rel; }

std::string ReadFile(const stdfs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : throw std::runtime_error("cannot read " + p.native());
}

std::vector<std::string> ListTree(const stdfs::path& folder)
{
    std::vector<std::string> out;
    // Never through a link: relative() and is_directory() would follow one, or fail on a loop.
    for (const auto& e : stdfs::recursive_directory_iterator(folder))
        out.push_back(e.path().lexically_relative(folder).native() + (stdfs::is_directory(e.symlink_status()) ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

std::string Bytes(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    return s;
}

bool HaveSecondFileSystem()
{
    struct stat a {}, b {};
    return stat(stdfs::temp_directory_path().c_str(), &a) == 0 && stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev;
}

namespace {

// Calls `visit(folderFd, path, name, stat)` for every entry below the open folder `fd`, a folder's
// children before it. Names are read before any is visited, so visits may remove.
template <class Visit>
void WalkAt(int fd, const std::string& path, Visit&& visit)
{
    std::vector<std::string> names;
    if (DIR* d = fdopendir(dup(fd))) {
        while (const dirent* e = readdir(d))
            if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    for (const auto& name : names) {
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            fchmodat(fd, name.c_str(), 0700, 0);  // tests leave folders without rights behind
            const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) WalkAt(sub, path + "/" + name, visit), close(sub);
        }
        visit(fd, path + "/" + name, name, st);
    }
}

}  // namespace

Contents ReadContents(const std::vector<stdfs::path>& roots)
{
    Contents contents;
    for (const auto& root : roots) {
        const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) continue;
        WalkAt(fd, root.native(), [&](int at, const std::string& path, const std::string& name, const struct stat& st) {
            std::string bytes(S_ISLNK(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0, '\0');
            if (S_ISLNK(st.st_mode)) {
                bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(0, readlinkat(at, name.c_str(), bytes.data(), bytes.size()))));
                contents[path] = "-> " + bytes;
            } else if (S_ISREG(st.st_mode)) {
                const int f = openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
                char buf[65536];
                for (ssize_t n; f >= 0 && (n = read(f, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<std::size_t>(n));
                contents[path] = f < 0 ? "<unreadable>" : bytes;
                close(f);
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
    fchmodat(AT_FDCWD, path.c_str(), 0700, AT_SYMLINK_NOFOLLOW);  // a link is removed, its target left alone
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        unlink(path.c_str());
        return;
    }
    WalkAt(fd, path.native(), [](int at, const std::string&, const std::string& name, const struct stat& s) {
        unlinkat(at, name.c_str(), S_ISDIR(s.st_mode) ? AT_REMOVEDIR : 0);
    });
    close(fd);
    rmdir(path.c_str());
}

}  // namespace sorvin::test
