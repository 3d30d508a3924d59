// The path text helpers on any bytes: a path splits into its folder and its name, the name into
// base and extension, and each gives back what it came from.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fs/names.h"

namespace {

using namespace sorvin::fs;

void Require(bool ok, const char* what) { if (!ok) std::fprintf(stderr, "path_fuzz: %s\n", what), std::abort(); }

void CheckName(std::string_view name)
{
    const std::string base = BaseName(name), ext = ExtensionName(name);
    Require(ext.find('.') == std::string::npos && (name.find('.') == std::string_view::npos ? base == name && ext.empty() : base + "." + ext == name),
            "an extension with a dot, or base and extension do not give back the name");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string p(reinterpret_cast<const char*>(data), size), name = FileName(p), slashed = WithTrailingSlash(p), parent = ParentFolderName(p);
    std::string_view t = p;
    while (t.size() > 1 && t.back() == '/') t.remove_suffix(1);
    Require(name.find('/') == std::string::npos && t.ends_with(name), "a file name that does not end the path");
    Require(name.empty() == (p.find_first_not_of('/') == std::string::npos), "a path without a name or a name from nothing");
    Require(slashed.ends_with('/') && WithTrailingSlash(slashed) == slashed, "trailing slash missing or added twice");
    Require(slashed.starts_with(p) && slashed.size() <= p.size() + 1 && FileName(slashed) == name, "the slashed path changed");
    // A parent strictly shorter, so climbing to the root always ends.
    Require(t.find('/') == std::string_view::npos ? parent.empty()
                                                  : !parent.empty() && t.starts_with(parent) && (parent.size() < t.size() || t == "/") &&
                                                        (parent == "/" || !parent.ends_with('/')),
            "a parent of a single name, or one that is no shorter prefix or ends in a slash");
    Require(t == "/" || t.find('/') == std::string_view::npos || t.find("//") != std::string_view::npos || WithTrailingSlash(parent) + name == t,
            "parent and name do not give back the path");
    for (const std::string& n : {name, p}) CheckName(n);
    return 0;
}
