// sorvin-cli on memory cards as older systems mount them, exFAT through exfat-fuse and FAT through fusefat, and on
// ext2 without entry types in its folders (readdir answers DT_UNKNOWN), all on loop devices. The cards take neither
// RENAME_NOREPLACE nor hard links, and hold "IMG.JPG" and "img.jpg" as one name.
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Tree = std::map<std::string, std::string>;  // relative path -> bytes

struct CardKind {
    const char *name, *tool, *mkfs, *mount;  // the tool that mounts it; mkfs + image; mount + device + folder
    bool foldsCase = false;
};

// scripts/try-file-systems names a folder on any other mounted file system in SORVIN_CARD.
std::vector<CardKind> Cards()
{
    std::vector<CardKind> cards {{"exFAT", "mount.exfat-fuse", "mkfs.exfat", "mount.exfat-fuse", true}, {"FAT", "fusefat", "mkfs.vfat", "fusefat -o rw+", true},
                                 {"ext2WithoutTypes", "mount", "mkfs.ext2 -q -F -O ^filetype", "mount"}};
    if (std::getenv("SORVIN_CARD")) cards.push_back({"Given", nullptr, nullptr, nullptr});
    return cards;
}

int Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }
std::string Quoted(const stdfs::path& p) { return "'" + p.native() + "'"; }

class FuseCard : public ::testing::TestWithParam<CardKind> {
protected:
    void SetUp() override
    {
        const CardKind& kind = GetParam();
        if (!kind.tool) return given_.emplace(std::getenv("SORVIN_CARD")), void(card = given_->root());
        if (geteuid() != 0) GTEST_SKIP() << "only root can attach loop devices and mount " << kind.name;
        stdfs::resize_file(tree.write("card.img", ""), 64u << 20);
        if (Sh(std::string(kind.mkfs) + " " + Quoted(tree / "card.img")) != 0) GTEST_SKIP() << kind.mkfs << " failed";
        const stdfs::path device = tree / "device";
        if (Sh("{ losetup -f --show " + Quoted(tree / "card.img") + " >" + Quoted(device) + "; }") != 0) GTEST_SKIP() << "no loop device";
        device_ = ReadFile(device).substr(0, ReadFile(device).find('\n'));
        card = tree.mkdir("card");
        if (Sh(std::string(kind.mount) + " " + device_ + " " + Quoted(card)) != 0 || Sh("mountpoint -q " + Quoted(card)) != 0)
            GTEST_SKIP() << kind.tool << " is missing or could not mount the image";
        mounted_ = true;
    }
    void TearDown() override { Sh("{ true" + (mounted_ ? "; umount " + Quoted(card) : "") + (device_.empty() ? "" : "; losetup -d " + device_) + "; }"); }
    // What lies below `root`, by path relative to it, after a run that had to succeed.
    Tree gather(const std::vector<std::string>& args, const stdfs::path& root, const std::vector<std::string>& prefix = {})
    {
        const CliOutcome o = RunCli(args, tree.root(), prefix);
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        Tree below;
        for (auto& [path, bytes] : ReadContents({root})) below[path.substr(root.native().size() + 1)] = bytes;
        return below;
    }

    TempTree tree;
    stdfs::path card;
    std::string device_;
    bool mounted_ = false;
    std::optional<TempTree> given_;
};

// A dropped folder moved within the card with its structure kept, into a folder where a.txt is
// taken by a file of another size and dup.txt holds the same bytes; then copied off the card.
TEST_P(FuseCard, GathersWithinAndOffTheCardNeverReplacingAndKeepingEveryByte)
{
    for (const auto& [rel, bytes] : Tree {{"in/a.txt", "the new a"}, {"in/dup.txt", "same bytes"}, {"in/sub/c.txt", "c"},
                                          {"out/in/a.txt", "an older a, longer"}, {"out/in/dup.txt", "same bytes"}})
        tree.write(card / rel, bytes);
    const Tree gathered {{"in/a.txt", "an older a, longer"}, {"in/a_000.txt", "the new a"}, {"in/dup.txt", "same bytes"},
                         {"in/sub/c.txt", "c"}};
    EXPECT_EQ(gather({"--keep-structure", (card / "out").native(), (card / "in").native()}, card / "out"), gathered);
    EXPECT_FALSE(stdfs::exists(card / "in"));
    EXPECT_EQ(gather({"--copy", "--keep-structure", tree.mkdir("off").native(), (card / "out/in").native()}, tree / "off"), gathered);
    if (!GetParam().foldsCase) return;
    // A name taken in another case gets a serial; the card's folder named in another case is itself.
    tree.write(card / "pics/img.jpg", "an older picture, longer");
    const Tree pictures {{"img.jpg", "an older picture, longer"}, {"IMG_000.JPG", "new picture"}};
    const stdfs::path picture = tree.write("IMG.JPG", "new picture");
    chmod(picture.c_str(), 02644);  // a bit the card refuses (EPERM): moved all the same, and fsynced there (syncfs would not reach the server)
    const std::string trace = (tree / "trace").native();
    EXPECT_EQ(gather({(card / "pics").native(), picture.native()}, card / "pics",
                     {"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-y", "-qq", "-e", "trace=fsync", "-o", trace}), pictures);
    for (const char* synced : {"/card/pics/IMG_000.JPG>) = 0", "/card/pics>) = 0"}) EXPECT_NE(ReadFile(trace).find(synced), std::string::npos) << synced;
    EXPECT_EQ(gather({"--keep-structure", (card / "PICS").native(), (card / "pics").native()}, card / "pics"), pictures);
    // On a card that takes no writes (exfat-fuse can be remounted so), a move within it fails as a write does, not as "the same folder".
    if (GetParam().name != std::string("exFAT") || Sh("mount -o remount,ro " + Quoted(card)) != 0) return;
    EXPECT_EQ(RunCli({(card / "out").native(), (card / "pics/img.jpg").native()}, tree.root()).err, "Pelkor: ファイル書き込みエラーです。\n");
}

INSTANTIATE_TEST_SUITE_P(Cards, FuseCard, ::testing::ValuesIn(Cards()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvin::test
