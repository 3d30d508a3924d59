// The path text helpers on any bytes, and the joins the engine builds from them on paths as the
// intake hands them over (absolute, no "." or "..", no doubled or trailing slash): a file's
// folder plus its name, and a kept folder's copy, the destination plus the folder's name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fs/names.h"

namespace {

using namespace sorvin::fs;

void Require(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "path_fuzz: %s\n", what);
    std::abort();
}

std::string_view Trimmed(std::string_view p)
{
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    return p;
}

void CheckName(std::string_view name)
{
    const std::string base = BaseName(name), ext = ExtensionName(name);
    Require(ext.find('.') == std::string::npos, "an extension with a dot");
    if (name.find('.') == std::string_view::npos) Require(base == name && ext.empty(), "a name without a dot split");
    else Require(base + "." + ext == name, "base and extension do not give back the name");
}

void CheckPath(std::string_view p)
{
    const std::string name = FileName(p);
    const std::string_view t = Trimmed(p);
    Require(name.find('/') == std::string::npos, "a file name with a slash");
    Require(name.empty() == (p.find_first_not_of('/') == std::string_view::npos), "a path without a name or a name from nothing");
    Require(t.ends_with(name), "the name does not end the path");

    const std::string slashed = WithTrailingSlash(p);
    Require(slashed.ends_with('/') && WithTrailingSlash(slashed) == slashed, "trailing slash missing or added twice");
    Require(slashed.starts_with(p) && slashed.size() <= p.size() + 1, "the slashed path changed");
    Require(FileName(slashed) == name, "a trailing slash names another entry");

    const std::string parent = ParentFolderName(p);
    if (t.find('/') == std::string_view::npos) {
        Require(parent.empty(), "a parent of a single name");
    } else {
        // Strictly shorter, so climbing to the root always ends.
        Require(!parent.empty() && t.starts_with(parent) && (parent.size() < t.size() || t == "/"), "a parent that is no shorter prefix");
        Require(parent == "/" || !parent.ends_with('/'), "a parent with a trailing slash");
        if (t != "/" && t.find("//") == std::string_view::npos)
            Require(WithTrailingSlash(parent) + name == t, "parent and name do not give back the path");
    }
    CheckName(name);
    CheckName(p);
}

// A name as a folder listing gives it.
bool EntryName(const std::string& s)
{
    return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos && s.find('\0') == std::string::npos;
}

std::string Joined(const std::vector<std::string>& parts, std::size_t from, std::size_t to)
{
    std::string path;
    for (std::size_t i = from; i < to; ++i) (path += '/') += parts[i];
    return path.empty() ? "/" : path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    CheckPath(in.ConsumeRandomLengthString(256));

    std::vector<std::string> parts;
    while (parts.size() < 8 && in.remaining_bytes() > 0)
        if (std::string part = in.ConsumeRandomLengthString(16); EntryName(part)) parts.push_back(std::move(part));
    if (parts.size() < 2) return 0;

    // The destination folder, as the window holds it, and a dropped folder elsewhere.
    const std::size_t split = in.ConsumeIntegralInRange<std::size_t>(0, parts.size() - 2);
    const std::string dst = WithTrailingSlash(Joined(parts, 0, split));
    const std::string src = Joined(parts, split, parts.size() - 1);
    const std::string& entry = parts.back();
    CheckPath(dst);
    CheckPath(src);

    // A file listed in the folder: its log path and same-folder test use its folder plus name.
    const std::string file = src + "/" + entry;
    CheckPath(file);
    Require(FileName(file) == entry, "a listed file changed its name");
    Require(WithTrailingSlash(ParentFolderName(file)) == src + "/", "a listed file left its folder");
    Require(WithTrailingSlash(ParentFolderName(dst + entry)) == dst, "a gathered file is not in the destination");

    // The kept folder's copy, and a sub-folder's copy inside it: each one level down.
    const std::string copy = dst + FileName(src);
    CheckPath(copy);
    Require(EntryName(FileName(src)), "a kept folder named by no entry name");
    Require(WithTrailingSlash(ParentFolderName(copy)) == dst && FileName(copy) == FileName(src), "a kept folder's copy outside the destination");
    const std::string nested = copy + "/" + FileName(file);
    Require(WithTrailingSlash(ParentFolderName(nested)) == copy + "/" && FileName(nested) == entry, "a sub-folder's copy outside its parent's");
    return 0;
}
