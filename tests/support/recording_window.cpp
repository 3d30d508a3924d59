#include "support/recording_window.h"

namespace sorvin::test {

bool RecordingWindow::checked(MenuOption option) const
{
    auto it = options.find(option);
    return it != options.end() && it->second;
}

std::vector<std::string> RecordingWindow::messageTexts() const
{
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.text);
    return texts;
}

}  // namespace sorvin::test
