// Failures of the file-system layer. Each carries the call that failed, its errno and the path;
// the engine turns the error's class into the message the user sees.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace sorvin::fs {

enum class ErrorClass {
    DiskFull,          // ENOSPC, EDQUOT
    PermissionDenied,  // EACCES, EPERM, EROFS
    PathNotFound,      // ENOENT, ENOTDIR
    Other,             // anything else: the strerror text is its description
};

ErrorClass Classify(int err);

class FsError : public std::runtime_error {
public:
    FsError(std::string call, int err, const std::filesystem::path& path);

    const std::string& call() const { return call_; }
    int error() const { return err_; }
    const std::filesystem::path& path() const { return path_; }
    ErrorClass errorClass() const { return Classify(err_); }
    std::string description() const;  // strerror(error())

private:
    std::string call_;
    int err_;
    std::filesystem::path path_;
};

}  // namespace sorvin::fs
