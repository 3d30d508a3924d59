#include "fs/errors.h"

#include <cerrno>
#include <cstring>

namespace sorvin::fs {

ErrorClass Classify(int err)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
        return ErrorClass::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorClass::PermissionDenied;
    case ENOENT:
    case ENOTDIR:
        return ErrorClass::PathNotFound;
    default:
        return ErrorClass::Other;
    }
}

FsError::FsError(std::string call, int err, const std::filesystem::path& path)
    : std::runtime_error(call + " " + path.native() + ": " + std::strerror(err)),
      call_(std::move(call)), err_(err), path_(path)
{
}

std::string FsError::description() const { return std::strerror(err_); }

}  // namespace sorvin::fs
