#include "fs/names.h"

namespace sorvin::fs {

namespace {

// "/in/sub/" names the same folder as "/in/sub"; the root keeps its one slash.
std::string_view WithoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

}  // namespace

std::string ParentFolderName(std::string_view path)
{
    path = WithoutTrailingSlashes(path);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(WithoutTrailingSlashes(path.substr(0, slash == 0 ? 1 : slash)));
}

std::string FileName(std::string_view path)
{
    path = WithoutTrailingSlashes(path);
    if (path == "/") return {};
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string BaseName(std::string_view fileName)
{
    const auto dot = fileName.rfind('.');
    return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

std::string ExtensionName(std::string_view fileName)
{
    const auto dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot + 1));
}

std::string WithTrailingSlash(std::string_view path)
{
    std::string out(path);
    if (out.empty() || out.back() != '/') out += '/';
    return out;
}

}  // namespace sorvin::fs
