// The window's command line: sorvin [--user-settings] [FOLDER].
// FOLDER goes into the destination box as a drop there would put it. --user-settings, which the
// menu entry passes, keeps sorvin.ini in $XDG_CONFIG_HOME/sorvin/ (~/.config/sorvin/) instead of
// the working folder, which is whatever the desktop happened to give.
#pragma once

#include <filesystem>
#include <optional>

namespace sorvin::window {

struct StartUp {
    std::optional<int> exitStatus;               // set when the program ends without a window
    std::optional<std::filesystem::path> folder;  // for the destination box
};

// --help and --version, answered before Qt is started so they need no display.
std::optional<int> AnswerWithoutWindow(int argc, char** argv);

// The rest, once QApplication has taken its own options out of argv. Changes the working folder
// to the settings folder (made if missing) when --user-settings is given.
StartUp ReadCommandLine(int argc, char** argv);

}  // namespace sorvin::window
