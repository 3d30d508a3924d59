#include "shared/run.h"

#include <stdexcept>
#include <utility>

namespace sorvin {

std::atomic<std::int32_t> CancelFlag {0};

int SerialTable::next(const std::string& name)
{
    auto [it, inserted] = counts_.try_emplace(name, 0);
    if (it->second > 32767) throw std::overflow_error("serial count of " + name + " overflows");
    return it->second++;
}

void Run::start()
{
    LogBuffer.clear();
    lineEndPending_ = false;
    stopTaken_ = false;
}

bool Run::stopped()
{
    if (CancelFlag.load() & kStopAsked) {
        CancelFlag.store(kStopping);
        if (!stopTaken_) lineEndPending_ = true;
        stopTaken_ = true;
    }
    return CancelFlag.load() != 0;
}

void Run::continueLine(std::string_view text)
{
    stopped();
    if (std::exchange(lineEndPending_, false)) LogBuffer += '\n';
    LogBuffer += text;
}

void Run::addLine(std::string_view line)
{
    continueLine("\n");
    LogBuffer += line;
}

bool Run::holdStopLineEnd()
{
    stopped();
    return std::exchange(lineEndPending_, false);
}

}  // namespace sorvin
