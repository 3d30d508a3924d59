// What the user is told when a file-system call of a gathering operation fails. The three write
// failures always get a fixed message; any other failure shows its own description, or passes
// silently when the user chose to ignore errors other than write errors.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "fs/errors.h"

namespace sorvin {

enum class FailureSide { File, FolderMove, FolderCopy };

struct Failure {
    fs::ErrorClass errorClass;
    std::string description;
};

// Anything a step can throw: FsError keeps its class, a serial count that overflows is an
// "other" error, like any failure that is not the file system's.
Failure DescribeFailure(const std::exception& e);

// The message box text, or nothing when the failure is to pass silently.
std::optional<std::string> FailureMessage(FailureSide side, const Failure& failure, bool ignoreOthers);

}  // namespace sorvin
