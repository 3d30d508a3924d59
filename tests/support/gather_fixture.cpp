#include "support/gather_fixture.h"

#include <clocale>
#include <regex>

#include "run/driver.h"
#include "shared/run.h"

namespace sorvin::test {

GatherTest::GatherTest()
{
    std::setlocale(LC_ALL, "C");  // times read 14:03:27
    CancelFlag = 0;
    tree.mkdir("in");
    tree.mkdir("out");
    window.path = dst();
}

std::vector<std::string> GatherTest::logLines() const
{
    auto lines = SplitCrLf(MaskTimes(run.logText()));
    if (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
    return lines;
}

void GatherTest::stopAtYield(int n)
{
    window.onYield = [this, n](int k) {
        if (k == n) run::CancelClick(run, window, fs);
    };
}

std::string MaskTimes(const std::string& text)
{
    static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(text, time, "T");
}

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    return lines;
}

FaultInjectingFs::Match EndsWith(std::string suffix)
{
    return [suffix](const fs::Path& p) { return p.native().ends_with(suffix); };
}

}  // namespace sorvin::test
