#include "window/start_up.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "run/driver.h"

namespace sorvin::window {

namespace {

constexpr const char* kUsage =
    "Usage: sorvin [--user-settings] [FOLDER]\n"
    "Open the sorvin window. FOLDER is put in the destination box, as if it had been dropped\n"
    "there.\n"
    "\n"
    "  --user-settings  keep the settings file sorvin.ini in $XDG_CONFIG_HOME/sorvin/\n"
    "                   (~/.config/sorvin/), made if missing, instead of the working folder\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n";

int UsageError(const char* text)
{
    std::fprintf(stderr, "sorvin: %s\nTry 'sorvin --help' for more information.\n", text);
    return 2;
}

std::filesystem::path SettingsFolder()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::filesystem::path(config) / "sorvin";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/") / ".config" / "sorvin";
}

}  // namespace

std::optional<int> AnswerWithoutWindow(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("sorvin %s\n", SORVIN_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

StartUp ReadCommandLine(int argc, char** argv)
{
    StartUp start;
    bool userSettings = false, optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && arg == "--user-settings") {
            userSettings = true;
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            start.exitStatus = UsageError(("unknown option " + arg).c_str());
            return start;
        } else if (start.folder) {
            start.exitStatus = UsageError("only one FOLDER can be given");
            return start;
        } else {
            // Made absolute before the working folder changes below.
            start.folder = run::DroppedPath(arg);
        }
    }
    if (userSettings) {
        const std::filesystem::path folder = SettingsFolder();
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error || chdir(folder.c_str()) != 0)
            std::fprintf(stderr, "sorvin: cannot use %s for the settings (%s); using the working folder\n",
                         folder.c_str(), (error ? error.message() : std::string(std::strerror(errno))).c_str());
    }
    return start;
}

}  // namespace sorvin::window
