// `--dry-run` agrees with the run: over generated trees (taken names, identical files, contents
// that differ at equal sizes, kept structure, folders the run empties, links and hard links,
// FIFOs, a second file system), the preview prints the lines the run then prints, times aside,
// exits as it does, and leaves every tree as it found it. PREVIEW_SEEDS=n tries more trees.
#include <sys/stat.h>

#include <fstream>
#include <random>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

class TreeGenerator {
public:
    explicit TreeGenerator(unsigned seed) : rng_(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(int percent) { return pick(100) < percent; }

    // Files of few names and few contents, so names are taken and files are alike; "x" and "y",
    // "hello" and "hellp" differ at equal sizes. The long name has no room for a serial.
    void fill(const stdfs::path& folder, int depth)
    {
        static const std::string kNames[] = {"a.txt", "a_000.txt", "b.txt", "a", "c.tar.gz", "a.txt_000", std::string(250, 'n') + ".txt"};
        static constexpr const char* kBytes[] = {"", "x", "y", "hello", "hellp", "hello!"};
        if (stdfs::exists(stdfs::symlink_status(folder)) && !stdfs::is_directory(stdfs::symlink_status(folder))) return;
        stdfs::create_directories(folder);
        for (int i = pick(5); i > 0; --i) {
            const stdfs::path file = folder / kNames[pick(std::size(kNames))];
            if (stdfs::exists(stdfs::symlink_status(file))) continue;
            if (chance(6))
                ::mkfifo(file.c_str(), 0600);  // copied by no one: its folder stays
            else if (chance(10) && !files.empty())
                stdfs::create_hard_link(files[pick(files.size())], file);
            else if (chance(12))
                stdfs::create_symlink(chance(50) ? stdfs::path(kNames[pick(std::size(kNames))]) : folder / "a.txt", file);
            else
                std::ofstream(file) << kBytes[pick(std::size(kBytes))];
            if (stdfs::is_regular_file(stdfs::symlink_status(file))) files.push_back(file);
        }
        if (depth < 3)
            for (int i = pick(3); i > 0; --i) fill(folder / (chance(70) ? "f" : "a"), depth + 1);
    }

    std::vector<stdfs::path> files;  // made so far, for hard links

private:
    std::mt19937 rng_;
};

TEST(PreviewTest, DryRunPrintsTheRunsLinesAndChangesNothing)
{
    // Each comes up in some run, so the trees stay varied: a message ("sorvin:") included.
    static constexpr const char* kMarkers[] = {"…Delete", "…Rename後Move", "…同一ファイルあり", "…Rename後Copy", "…フォルダ作成",
                                               "…フォルダ削除", "…削除しない", "sorvin:"};
    std::map<std::string, int> seen;
    const bool shm = HaveSecondFileSystem();
    const unsigned seeds = std::getenv("PREVIEW_SEEDS") ? std::stoul(std::getenv("PREVIEW_SEEDS")) : 160;
    for (unsigned seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TempTree tree;
        TempTree other(shm ? "/dev/shm" : stdfs::temp_directory_path());
        TreeGenerator gen(seed);
        gen.fill(tree / "in", 0);
        // On another file system now and then, and now and then inside a source folder.
        const stdfs::path dst = seed % 4 == 0 ? other / "out" : tree / (seed % 5 == 0 ? "in/f/out" : "out");
        if (seed % 4 == 0) gen.files.clear();  // no hard link across file systems
        gen.fill(dst, 2);

        std::vector<std::string> args {"--dry-run"};
        for (const char* option : {"--copy", "--keep-structure", "--crc32", "--check-all", "--serial-after-extension",
                                   "--ignore-errors"})
            if (gen.chance(option[2] == 'k' || option[2] == 'i' ? 50 : 25)) args.push_back(option);
        args.push_back(dst.native());
        for (const auto& item : stdfs::directory_iterator(tree / "in")) args.push_back(item.path().native());
        if (gen.chance(20)) args.push_back((tree / "in/f/a.txt").native());  // twice, or not there
        if (gen.chance(20)) args.push_back((dst / "f").native());  // a folder the run may have filled

        const auto look = [&] { return std::pair(ReadContents({tree.root(), other.root()}), ListTree(tree.root())); };
        const auto before = look();
        const CliOutcome preview = RunCli(args, tree.root());
        ASSERT_TRUE(look() == before);
        const CliOutcome run = RunCli({args.begin() + 1, args.end()}, tree.root());
        ASSERT_EQ(MaskTimes(preview.out), MaskTimes(run.out)) << preview.err << run.err;
        ASSERT_EQ(preview.err, run.err);
        ASSERT_EQ(preview.status, run.status);
        for (const char* marker : kMarkers)
            if ((run.out + run.err).find(marker) != std::string::npos) ++seen[marker];
    }
    for (const char* marker : kMarkers) EXPECT_GE(seen[marker], 2) << marker;
}

}  // namespace
}  // namespace sorvin::test
