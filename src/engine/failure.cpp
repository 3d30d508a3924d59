#include "engine/failure.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sorvin {

Failure DescribeFailure(const std::exception& e)
{
    if (auto* fsError = dynamic_cast<const fs::FsError*>(&e)) return {fsError->errorClass(), fsError->description()};
    if (dynamic_cast<const std::overflow_error*>(&e)) return {fs::ErrorClass::Other, std::strerror(EOVERFLOW)};
    return {fs::ErrorClass::Other, e.what()};
}

std::optional<std::string> FailureMessage(FailureSide side, const Failure& failure, bool ignoreOthers)
{
    switch (failure.errorClass) {
    case fs::ErrorClass::DiskFull:
        return "書き込み先の容量不足です。";
    case fs::ErrorClass::PermissionDenied:
        switch (side) {
        case FailureSide::File: return "ファイル書き込みエラーです。";
        case FailureSide::FolderMove: return "フォルダ書き込みエラー。";
        case FailureSide::FolderCopy: return "フォルダ書き込みエラーです。";
        }
        break;
    case fs::ErrorClass::PathNotFound:
        // Only the file operations single out a missing path; to the folder operations it is
        // one more failure with its own description.
        if (side == FailureSide::File) return "指定されたパスが見つかりません。";
        break;
    case fs::ErrorClass::Other:
        break;
    }
    if (ignoreOthers) return std::nullopt;
    return failure.description;
}

}  // namespace sorvin
