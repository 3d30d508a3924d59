// The parts of a path's text, as the engine names and logs files. Pure text work on native bytes;
// nothing here touches the disk.
#pragma once

#include <string>
#include <string_view>

namespace sorvin::fs {

std::string ParentFolderName(std::string_view path);  // without its last component; "/" for "/a"
std::string FileName(std::string_view path);          // the last component
std::string BaseName(std::string_view fileName);      // the text before the last "."
std::string ExtensionName(std::string_view fileName); // the text after the last ".", or ""
std::string WithTrailingSlash(std::string_view path);

}  // namespace sorvin::fs
