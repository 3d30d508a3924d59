// sorvin-cli gathering onto, within and off memory cards as older systems mount them: an exFAT
// image through exfat-fuse and a FAT image through fusefat, each on a loop device. Neither server
// takes RENAME_NOREPLACE nor makes hard links, and both hold "IMG.JPG" and "img.jpg" as one name.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;  // relative path -> bytes

struct CardKind {
    const char* name;
    const char* tool;   // what mounts it; the test is skipped without it
    const char* mkfs;   // + image
    const char* mount;  // + device + mount point
};

// scripts/try-file-systems names a folder on any other mounted file system in SORVIN_CARD.
std::vector<CardKind> Cards()
{
    std::vector<CardKind> cards {{"exFAT", "mount.exfat-fuse", "mkfs.exfat", "mount.exfat-fuse"},
                                 {"FAT", "fusefat", "mkfs.vfat", "fusefat -o rw+"}};
    if (std::getenv("SORVIN_CARD")) cards.push_back({"Given", nullptr, nullptr, nullptr});
    return cards;
}

int Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string Quoted(const stdfs::path& p) { return "'" + p.native() + "'"; }

// What lies below `root`, by path relative to it.
Tree Below(const stdfs::path& root)
{
    Tree tree;
    const std::string prefix = root.native() + "/";
    for (auto& [path, bytes] : ReadContents({root})) tree[path.substr(prefix.size())] = bytes;
    return tree;
}

class FuseCard : public ::testing::TestWithParam<CardKind> {
protected:
    void SetUp() override
    {
        const CardKind& kind = GetParam();
        if (!kind.tool) {
            given_.emplace(std::getenv("SORVIN_CARD"));
            card = given_->root();
            return;
        }
        if (geteuid() != 0) GTEST_SKIP() << "only root can attach loop devices and mount " << kind.name;
        if (Sh(std::string("command -v ") + kind.tool) != 0) GTEST_SKIP() << kind.tool << " is not installed";
        const stdfs::path image = tree / "card.img";
        stdfs::resize_file(tree.write("card.img", ""), 64u << 20);
        if (Sh(std::string(kind.mkfs) + " " + Quoted(image)) != 0) GTEST_SKIP() << kind.mkfs << " failed";
        if (FILE* losetup = popen(("losetup -f --show " + Quoted(image) + " 2>/dev/null").c_str(), "r")) {
            char line[256] = "";
            if (fgets(line, sizeof line, losetup)) device_ = std::string(line, strcspn(line, "\n"));
            pclose(losetup);
        }
        if (device_.empty()) GTEST_SKIP() << "no loop device could be attached to the image";
        card = tree.mkdir("card");
        if (Sh(std::string(kind.mount) + " " + device_ + " " + Quoted(card)) != 0 || Sh("mountpoint -q " + Quoted(card)) != 0)
            GTEST_SKIP() << kind.tool << " could not mount the image";
        mounted_ = true;
    }

    void TearDown() override
    {
        if (mounted_) Sh("umount " + Quoted(card));
        if (!device_.empty()) Sh("losetup -d " + device_);
    }

    // The outcome with the log's times of day as "T".
    CliOutcome run(const Lines& args)
    {
        CliOutcome o = RunCli(args, tree.root());
        EXPECT_FALSE(o.timedOut);
        o.out = MaskTimes(o.out);
        return o;
    }

    TempTree tree;
    stdfs::path card;

private:
    std::string device_;
    bool mounted_ = false;
    std::optional<TempTree> given_;
};

// A dropped folder moved within the card with its structure kept, into a folder where a.txt is
// taken by a file of another size and dup.txt holds the same bytes; then copied off the card.
TEST_P(FuseCard, GathersWithinAndOffTheCardNeverReplacingAndKeepingEveryByte)
{
    const Tree source {{"a.txt", "the new a"}, {"dup.txt", "same bytes"}, {"sub/c.txt", "c, one folder down"}};
    for (const auto& [rel, bytes] : source) tree.write(card / "in" / rel, bytes);
    tree.write(card / "out/in/a.txt", "an older a, longer");
    tree.write(card / "out/in/dup.txt", "same bytes");
    CliOutcome o = run({"--keep-structure", (card / "out").native(), (card / "in").native()});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    const Tree gathered {{"in/a.txt", "an older a, longer"}, {"in/a_000.txt", "the new a"}, {"in/dup.txt", "same bytes"},
                         {"in/sub/c.txt", "c, one folder down"}};
    EXPECT_EQ(Below(card / "out"), gathered);
    EXPECT_FALSE(stdfs::exists(card / "in"));
    o = run({"--copy", "--keep-structure", tree.mkdir("off").native(), (card / "out/in").native()});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(Below(tree / "off"), gathered);
    EXPECT_EQ(Below(card / "out"), gathered);
}

TEST_P(FuseCard, OneNameInAnyLetterCaseIsOneNameAndTheSourcesOwnFolderIsNeverItsDuplicate)
{
    // A taken name under another case gets a serial; the same bytes under another case are found.
    tree.write("in/IMG_0001.JPG", "the new picture");
    tree.write("in/Same.txt", "same bytes");
    tree.write(card / "out/img_0001.jpg", "an older picture, longer");
    tree.write(card / "out/same.txt", "same bytes");
    CliOutcome o = run({"--copy", (card / "out").native(), (tree / "in/IMG_0001.JPG").native(), (tree / "in/Same.txt").native()});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.out, "処理開始...T\n" + (tree / "in/IMG_0001_000.JPG").native() + "…Rename後Copy-T\n" +
                         (tree / "in/Same.txt").native() + "…同一ファイルあり-T\n処理終了...T\n");
    EXPECT_EQ(Below(card / "out"), (Tree {{"IMG_0001_000.JPG", "the new picture"},
                                          {"img_0001.jpg", "an older picture, longer"},
                                          {"same.txt", "same bytes"}}));
    // The card's own folder named in another case, though the server numbers each spelling apart.
    tree.write(card / "dcim/P1.JPG", "picture one");
    o = run({"--keep-structure", (card / "DCIM").native(), (card / "dcim").native()});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(Below(card / "dcim"), (Tree {{"P1.JPG", "picture one"}}));
}

INSTANTIATE_TEST_SUITE_P(Cards, FuseCard, ::testing::ValuesIn(Cards()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvin::test
