// A temporary folder for one test, removed with everything in it when the test ends, and helpers
// to build and read trees of files with chosen bytes.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sorvin::test {

namespace stdfs = std::filesystem;

class TempTree {
public:
    // Under `base`; /dev/shm gives a second file system.
    explicit TempTree(const stdfs::path& base = stdfs::temp_directory_path());
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const stdfs::path& root() const { return root_; }
    stdfs::path operator/(const stdfs::path& rel) const { return root_ / rel; }
    std::string folder(const stdfs::path& rel) const;  // with a trailing "/", as a destination drop gives it
    stdfs::path write(const stdfs::path& rel, const std::string& bytes) const;  // makes its folders
    stdfs::path mkdir(const stdfs::path& rel) const;

private:
    stdfs::path root_;
};

std::string ReadFile(const stdfs::path& p);
// Every entry below `folder`, relative, sorted; folders end in "/".
std::vector<std::string> ListTree(const stdfs::path& folder);
// `n` bytes of a repeatable pattern that depends on `seed`.
std::string Bytes(std::size_t n, unsigned seed = 1);
bool HaveSecondFileSystem();  // /dev/shm apart from the temp folder's

// What a tree holds, by full path: a file's bytes, "-> target" for a link, "<fifo>", "<socket>" or
// "<device>"; folders left out. Read through open folder handles, so trees deeper than PATH_MAX too.
using Contents = std::map<std::string, std::string>;
Contents ReadContents(const std::vector<stdfs::path>& roots);
// The paths of `before` whose content is held nowhere in `after`: what a run lost. Give every
// file of a test distinct bytes, since equal contents answer for each other.
std::vector<std::string> Lost(const Contents& before, const Contents& after);
// Removes `path` and everything below it, however deep and whatever the folders' modes.
void RemoveTree(const stdfs::path& path);

}  // namespace sorvin::test
