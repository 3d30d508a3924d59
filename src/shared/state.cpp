#include "shared/state.h"

#include <stdexcept>

namespace sorvin {

std::int32_t CancelFlag = 0;
std::string LogBuffer;
std::string ProgressLabel;
std::vector<std::filesystem::path> DropList(1);
std::int32_t DropCount = 0;
SerialTable NameTable;

int SerialTable::next(const std::string& name)
{
    auto [it, inserted] = counts_.try_emplace(name, 0);
    if (it->second > 32767) throw std::overflow_error("serial count of " + name + " overflows");
    return it->second++;
}

}  // namespace sorvin
