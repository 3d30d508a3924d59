// The path text helpers on any bytes: a path splits into its folder and its name, the name into
// base and extension, and each gives back what it came from.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fs/names.h"

namespace {

using namespace sorvin::fs;

void Require(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "path_fuzz: %s\n", what);
    std::abort();
}

void CheckName(std::string_view name)
{
    const std::string base = BaseName(name), ext = ExtensionName(name);
    Require(ext.find('.') == std::string::npos, "an extension with a dot");
    if (name.find('.') == std::string_view::npos) Require(base == name && ext.empty(), "a name without a dot split");
    else Require(base + "." + ext == name, "base and extension do not give back the name");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string p = in.ConsumeRemainingBytesAsString();
    std::string_view t = p;
    while (t.size() > 1 && t.back() == '/') t.remove_suffix(1);
    const std::string name = FileName(p);
    Require(name.find('/') == std::string::npos && t.ends_with(name), "a file name that does not end the path");
    Require(name.empty() == (p.find_first_not_of('/') == std::string::npos), "a path without a name or a name from nothing");

    const std::string slashed = WithTrailingSlash(p);
    Require(slashed.ends_with('/') && WithTrailingSlash(slashed) == slashed, "trailing slash missing or added twice");
    Require(slashed.starts_with(p) && slashed.size() <= p.size() + 1 && FileName(slashed) == name, "the slashed path changed");

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
    return 0;
}
