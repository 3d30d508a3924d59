// Candidate walks into a folder on a memory file system whose entries, options and changes behind the
// walk's back the fuzzer chooses: a walk never settles on a taken name, and a duplicate it finds is one.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <fstream>

#include "checksum/crc32.h"
#include "engine/naming.h"
#include "fs/names.h"
#include "fs/posix_fs.h"
#include "support/recording_window.h"

namespace {

using namespace sorvin;
namespace stdfs = std::filesystem;

void Require(bool ok, const char* what) { if (!ok) std::fprintf(stderr, "naming_fuzz: %s\n", what), std::abort(); }

std::string EntryName(std::string t)
{
    return std::erase_if(t, [](char c) { return c == '/' || c == '\0'; }), t.empty() || t == "." || t == ".." ? "f" + t : t;
}

// What the walk reads of an entry: a file's bytes, a link's target text; nothing for a folder or nothing.
std::optional<std::string> Held(const stdfs::path& p)
{
    if (stdfs::is_symlink(stdfs::symlink_status(p))) return stdfs::read_symlink(p).native();
    std::ifstream in(p, std::ios::binary);
    return stdfs::is_regular_file(stdfs::symlink_status(p)) ? std::optional(std::string(std::istreambuf_iterator<char>(in), {})) : std::nullopt;
}

// What was there or another program puts there: under the source's name, a serial or another name,
// nothing, a folder, a link to the source or elsewhere, or a file of (nearly) the source's bytes.
void PutEntry(FuzzedDataProvider& in, const stdfs::path& dst, const stdfs::path& source)
{
    const std::string file = source.filename(), base = fs::BaseName(file), ext = fs::ExtensionName(file);
    const int naming = in.ConsumeIntegralInRange(0, 3), kind = in.ConsumeIntegralInRange(0, 6);
    const stdfs::path p = dst / (naming == 0 ? file : naming == 1 ? EntryName(in.ConsumeRandomLengthString(12))
                                                                   : SerialName(base, ext, in.ConsumeIntegralInRange(0, 40), in.ConsumeBool()));
    std::string bytes = in.ConsumeBool() ? *Held(source) : in.ConsumeRandomLengthString(16);
    if (!bytes.empty() && in.ConsumeBool()) bytes[in.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1)] ^= 1;
    stdfs::remove_all(p);
    if (kind == 1) stdfs::create_directory(p);
    if (kind == 2) stdfs::create_symlink(source, p);
    if (kind == 3) stdfs::create_symlink(bytes.empty() || bytes.find('\0') != std::string::npos ? "x" : bytes, p);
    if (kind > 3) std::ofstream(p, std::ios::binary) << bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const stdfs::path root = "/dev/shm/naming_fuzz." + std::to_string(getpid());
    [[maybe_unused]] static const int removed = std::atexit([] { stdfs::remove_all(root); });
    for (const char* side : {"src", "dst"}) stdfs::remove_all(root / side), stdfs::create_directories(root / side);
    FuzzedDataProvider in(data, size);
    Run run;
    fs::PosixFs fs;
    test::RecordingWindow window;
    const fs::FolderPtr srcFolder = fs.openPath(root / "src"), dstFolder = fs.openPath(root / "dst");
    std::string fileName = EntryName(in.ConsumeRandomLengthString(24));
    for (int round = 0; round < 4 && in.remaining_bytes() > 0; ++round) {
        if (round > 0 && in.ConsumeBool()) fileName = EntryName(in.ConsumeRandomLengthString(24));
        const stdfs::path source = root / "src" / fileName;
        std::string bytes;
        std::ofstream(source, std::ios::binary | std::ios::trunc) << (bytes = in.ConsumeRandomLengthString(16));
        for (int n = in.ConsumeIntegralInRange(0, round == 0 ? 40 : 3); n > 0; --n) PutEntry(in, root / "dst", source);
        const bool crc = in.ConsumeIntegralInRange(0, 3) == 3, move = in.ConsumeBool();
        window.set(MenuOption::Crc32, crc), window.set(MenuOption::Genmitsu, in.ConsumeBool()), window.set(MenuOption::NumPosition, in.ConsumeBool());
        CandidateWalk walk(run, window, fs, *srcFolder, fileName, *dstFolder, move ? SameFileRule::Content : SameFileRule::SizeOrChecksum);
        for (WalkOutcome outcome = walk.run();; walk.skip(), outcome = walk.run()) {
            const std::string& c = walk.candidate();
            Require(outcome != WalkOutcome::Stopped && &walk.target().folder == dstFolder.get() && walk.target().name == c &&
                    EntryName(c) == c, "stopped, or a target that is no name in the folder");
            const stdfs::path there = root / "dst" / c;
            if (outcome == WalkOutcome::Identical) {
                const auto held = Held(there);
                const auto crcOf = [](const std::string& b) { return Crc32Update(0, b.data(), b.size()); };
                Require(held && held->size() == bytes.size() && (move || !crc || crcOf(*held) == crcOf(bytes)) && (!move || *held == bytes) &&
                            !stdfs::is_symlink(there),
                        "a duplicate of nothing, another size, checksum or (moved) bytes, or a link");
                break;
            }
            const auto st = stdfs::symlink_status(there);
            Require(!stdfs::exists(st) || stdfs::is_directory(st), "a free name holds a file");
            // The rename or copy refuses a folder there, or a file another program put there just now.
            if (!stdfs::exists(st) && in.ConsumeBool()) std::ofstream(there, std::ios::binary) << in.ConsumeRandomLengthString(16);
            else if (!stdfs::exists(st)) { stdfs::copy_file(source, there); break; }
        }
    }
    return 0;
}
