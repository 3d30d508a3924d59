#include "support/temp_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace sorvin::test {

TempTree::TempTree(const stdfs::path& base)
{
    std::string tmpl = (base / "sorvin-test-XXXXXX").native();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed under " + base.native());
    root_ = tmpl;
}

TempTree::~TempTree()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; make everything writable before removing it.
    for (auto it = stdfs::recursive_directory_iterator(root_, ec); !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
    }
    stdfs::remove_all(root_, ec);
}

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

bool HaveSecondFileSystem()
{
    struct stat a {}, b {};
    return stat(stdfs::temp_directory_path().c_str(), &a) == 0 && stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev;
}

}  // namespace sorvin::test
