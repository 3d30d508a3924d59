// sorvin-cli: one drop of sources on the window, followed by one run, from the command line.
#include <getopt.h>
#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "cli/terminal_window.h"
#include "fs/posix_fs.h"
#include "fs/preview_fs.h"
#include "run/driver.h"
#include "run/journal.h"
#include "run/undo.h"
#include "shared/run.h"

namespace {

constexpr const char* kUsage =
    "Usage: sorvin-cli [OPTION]... DESTINATION SOURCE...\n"
    "  or:  sorvin-cli --undo [--dry-run]\n"
    "Gather every SOURCE file and folder into the folder DESTINATION, by moving (the default) or\n"
    "copying. Nothing is ever overwritten: a name that is taken gets a serial number (a_000.txt).\n"
    "A file of the same name and size in DESTINATION counts as the same file and is not gathered\n"
    "twice (a move deletes the source). After a move, emptied source folders are removed.\n"
    "\n"
    "  --copy                    copy instead of moving\n"
    "  --keep-structure          recreate each source folder inside DESTINATION instead of\n"
    "                            gathering all its files directly into DESTINATION\n"
    "  --crc32                   a file of the same name and size also needs the same CRC-32\n"
    "                            to count as the same file\n"
    "  --check-all               compare with every same-named file in DESTINATION, from\n"
    "                            serial 000 on\n"
    "  --serial-after-extension  put the serial after the extension (a.txt_000)\n"
    "  --ignore-errors           pass over failures other than write errors silently\n"
    "  --dry-run                 print the log the run would write and exit as it would,\n"
    "                            changing nothing; with --undo, what the undo would do\n"
    "  --undo                    take back the newest run not yet taken back: moved files go\n"
    "                            back, copies go, deleted duplicates and removed folders come\n"
    "                            back; what changed since the run is left and reported\n"
    "  --help                    show this help and exit\n"
    "  --version                 show the version and exit\n"
    "\n"
    "The log is printed on stdout, messages on stderr. Ctrl-C stops the run cleanly: a copy in\n"
    "progress is abandoned and nothing half-written is left.\n"
    "A dry run reads the sources and DESTINATION as the run would but writes nothing, so it\n"
    "cannot know of writes that will fail (a full disk, a name the file system refuses) nor of\n"
    "changes other programs make before the run.\n"
    "Every run keeps a journal of its steps for --undo in $XDG_STATE_HOME/sorvin/\n"
    "(~/.local/state/sorvin/), the newest 20 runs.\n"
    "Exit status: 0 when the run finished, 1 when it was stopped, 2 for a usage error or a\n"
    "DESTINATION that is not an existing folder. --undo: 0 when everything went back or there\n"
    "was nothing to take back, 1 when something was left or it was stopped.\n";

// Like a press of the stop button: a running run takes it once, at its next check.
void OnStopSignal(int) { sorvin::AskStop(); }

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    using sorvin::MenuOption;
    std::map<MenuOption, bool> options;
    bool copy = false, keep = false, dryRun = false;

    bool undo = false, gatherOption = false;
    enum { kCopy = 1, kKeep, kCrc, kAll, kAfter, kIgnore, kDryRun, kHelp, kVersion, kUndo };
    static const option longOptions[] = {
        {"copy", no_argument, nullptr, kCopy},
        {"keep-structure", no_argument, nullptr, kKeep},
        {"crc32", no_argument, nullptr, kCrc},
        {"check-all", no_argument, nullptr, kAll},
        {"serial-after-extension", no_argument, nullptr, kAfter},
        {"ignore-errors", no_argument, nullptr, kIgnore},
        {"dry-run", no_argument, nullptr, kDryRun},
        {"help", no_argument, nullptr, kHelp},
        {"version", no_argument, nullptr, kVersion},
        {"undo", no_argument, nullptr, kUndo},
        {nullptr, 0, nullptr, 0},
    };
    for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
        gatherOption = gatherOption || (c != kUndo && c != kDryRun);
        switch (c) {
        case kCopy: copy = true; break;
        case kKeep: keep = true; break;
        case kCrc: options[MenuOption::Crc32] = true; break;
        case kAll: options[MenuOption::Genmitsu] = true; break;
        case kAfter: options[MenuOption::NumPosition] = true; break;
        case kIgnore: options[MenuOption::ErrMushi] = true; break;
        case kDryRun: dryRun = true; break;
        case kHelp: std::fputs(kUsage, stdout); return 0;
        case kVersion: std::printf("sorvin-cli %s\n", SORVIN_VERSION); return 0;
        case kUndo: undo = true; break;
        default: std::fputs("Try 'sorvin-cli --help' for more information.\n", stderr); return 2;
        }
    }
    if (undo && (gatherOption || optind != argc)) {
        std::fputs("sorvin-cli: --undo takes no operands and no option but --dry-run\n"
                   "Try 'sorvin-cli --help' for more information.\n", stderr);
        return 2;
    }
    if (!undo && argc - optind < 2) {
        std::fputs("sorvin-cli: a DESTINATION and at least one SOURCE are needed\n"
                   "Try 'sorvin-cli --help' for more information.\n", stderr);
        return 2;
    }

    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    sorvin::fs::PosixFs disk;
    if (undo) {
        sorvin::cli::TerminalWindow window(disk, {}, false, sorvin::GatherMode::Move);
        const sorvin::run::UndoEnd end = sorvin::run::RunUndo(window, disk, dryRun);
        window.finishProgress();
        std::cout << window.pane() << '\n' << std::flush;
        return end == sorvin::run::UndoEnd::Nothing || end == sorvin::run::UndoEnd::AllBack ? 0 : 1;
    }
    sorvin::Window* shown = nullptr;
    sorvin::run::JournalingFs journaled(disk, [&](const std::string& why) {
        const std::string text = "記録ファイルに書き込めないため、この処理は元に戻せません: " + why;
        shown ? shown->message(text, sorvin::MessageTitle::Application, sorvin::MessageIcon::None)
              : void(std::fprintf(stderr, "sorvin: %s\n", text.c_str()));
    });
    sorvin::fs::PreviewFs preview(disk);  // a preview writes nothing, and keeps no journal
    sorvin::fs::FileSystem& fs = dryRun ? static_cast<sorvin::fs::FileSystem&>(preview) : journaled;
    sorvin::Run run;
    sorvin::cli::TerminalWindow window(fs, options, keep, copy ? sorvin::GatherMode::Copy : sorvin::GatherMode::Move);
    shown = &window;
    // A destination that is no folder leaves the box empty: the source drop then refuses the run.
    window.setPathText(sorvin::run::DestinationDrop(fs, sorvin::run::DroppedPath(argv[optind])).value_or(""));
    std::vector<std::filesystem::path> sources;
    for (int i = optind + 1; i < argc; ++i) sources.push_back(sorvin::run::DroppedPath(argv[i]));
    window.countSources(sources);

    const sorvin::run::DropOutcome outcome = sorvin::run::SourceDrop(run, window, fs, sources);
    window.finishProgress();
    if (outcome == sorvin::run::DropOutcome::Refused) return 2;
    std::cout << window.pane() << '\n' << std::flush;
    return outcome == sorvin::run::DropOutcome::Finished ? 0 : 1;
}
