// A temporary folder for one test, removed with everything in it when the test ends, and small
// helpers to build and read trees of files with chosen bytes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sorvin::test {

namespace stdfs = std::filesystem;

class TempTree {
public:
    // Under `base` (default: the system's temp folder); /dev/shm gives a second file system.
    explicit TempTree(const stdfs::path& base = stdfs::temp_directory_path());
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const stdfs::path& root() const { return root_; }
    stdfs::path operator/(const stdfs::path& rel) const { return root_ / rel; }
    // The folder's path with a trailing "/", as a destination drop gives it.
    std::string folder(const stdfs::path& rel) const;

    // Writes `bytes` to rel (creating its folders) and returns the full path.
    stdfs::path write(const stdfs::path& rel, const std::string& bytes) const;
    stdfs::path mkdir(const stdfs::path& rel) const;

private:
    stdfs::path root_;
};

std::string ReadFile(const stdfs::path& p);
// Every entry below `folder`, relative, sorted; folders end in "/".
std::vector<std::string> ListTree(const stdfs::path& folder);
// `n` bytes of a repeatable pattern that depends on `seed`.
std::string Bytes(std::size_t n, unsigned seed = 1);
// True when /dev/shm is a different file system from the system's temp folder.
bool HaveSecondFileSystem();

}  // namespace sorvin::test
