// sorvin-cli against hostile input: names at the limits of the file system, a tree deeper than
// PATH_MAX, and links, FIFOs and sockets inside a dropped folder. Every run has to end on its own,
// say plainly what it could not do, and leave every byte of user data somewhere.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/cli_run.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD, how the log shows a stray byte

class HostileInputTest : public ::testing::Test {
protected:
    // Runs sorvin-cli in `cwd`; a run that hangs or crashes fails the test here.
    CliOutcome run(const stdfs::path& cwd, const Lines& args, const Lines& prefix = {})
    {
        CliOutcome o = RunCli(args, cwd, prefix, std::chrono::seconds(60));
        EXPECT_FALSE(o.timedOut) << "sorvin-cli did not finish";
        EXPECT_EQ(o.signal, 0) << o.err;
        return o;
    }
    void gatherLinksAndSpecialFiles(const stdfs::path& dstRoot, bool crossFs);
    void raceAFolderSwap(const stdfs::path& dstRoot);

    TempTree tree;
};

std::string Shown(std::string name)
{
    for (std::size_t at; (at = name.find("\xff\xfe")) != std::string::npos;)
        name.replace(at, 2, std::string(kReplacement) + std::string(kReplacement));
    return name;
}

void MakeSocket(const stdfs::path& p)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(p.native().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, p.c_str());
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    close(s);
}

// `levels` nested folders of 250-byte names below `top`, built relative to open handles since
// their paths outgrow PATH_MAX, with a file of its own bytes at each depth in `fileDepths`.
// Returns the files' paths relative to the parent of `top`.
Lines MakeDeepTree(const stdfs::path& top, int levels, const std::vector<int>& fileDepths)
{
    stdfs::create_directories(top);
    Lines files;
    std::string rel = top.filename().native();
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int depth = 0; fd >= 0; ++depth) {
        if (std::find(fileDepths.begin(), fileDepths.end(), depth) != fileDepths.end()) {
            const std::string name = "f" + std::to_string(depth) + ".txt";
            const std::string bytes = Bytes(100 + static_cast<std::size_t>(depth), static_cast<unsigned>(depth) + 1);
            const int f = openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            EXPECT_EQ(write(f, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            close(f);
            files.push_back(rel + "/" + name);
        }
        if (depth == levels) break;
        const std::string name(250, static_cast<char>('a' + depth));
        EXPECT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = sub;
        rel += "/" + name;
    }
    if (fd >= 0) close(fd);
    return files;
}

TEST_F(HostileInputTest, ANameTooLongForItsSerialIsRefusedAndStaysWhereItWas)
{
    const std::string longA = std::string(251, 'a') + ".txt", longB = std::string(251, 'b') + ".txt";
    tree.write("out/" + longA, Bytes(3, 1));
    tree.write("in/" + longA, Bytes(8, 2));
    tree.write("in/" + longB, Bytes(9, 3));
    tree.write("in/next.txt", Bytes(10, 4));
    const Contents before = ReadContents({tree.root()});
    const std::string in = (tree / "in").native() + "/";

    // 255 bytes fit; the serial-numbered a_000 would not, and must not be cut to fit.
    CliOutcome o = run(tree.root(), {"out", "in/" + longB, "in/" + longA, "in/next.txt"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Pelkor: File name too long\n");
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + in + longB + "…Move-T\n" + in + longA + "…処理中止\n");

    o = run(tree.root(), {"--copy", "--serial-after-extension", "out", "in/" + longA});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Pelkor: File name too long\n");
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + in + longA + "…処理中止\n");

    EXPECT_EQ(ListTree(tree / "out"), (Lines {longA, longB}));  // no temporary file left behind
    EXPECT_EQ(ListTree(tree / "in"), (Lines {longA, "next.txt"}));
    EXPECT_TRUE(Lost(before, ReadContents({tree.root()})).empty());
}

TEST_F(HostileInputTest, OddNamesAreGatheredNumberedAndLoggedAsTheyAre)
{
    struct OddName {
        std::string name, afterExtension, beforeExtension;
    };
    const std::vector<OddName> names {
        {"-x.txt", "-x.txt_000", "-x_000.txt"},
        {"--copy", "--copy._000", "--copy_000"},
        {".hidden", ".hidden_000", "_000.hidden"},
        {"line\nbreak.txt", "line\nbreak.txt_000", "line\nbreak_000.txt"},
        {"\xff\xfe.txt", "\xff\xfe.txt_000", "\xff\xfe_000.txt"},
    };
    Lines args {"--", "../out"};
    Contents expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        expected[tree.write("out/" + names[i].name, Bytes(5 + i, 10 + i)).native()] = Bytes(5 + i, 10 + i);
        tree.write("in/" + names[i].name, Bytes(20 + i, 20 + i));
        expected[(tree / "out" / names[i].afterExtension).native()] = Bytes(20 + i, 20 + i);
        expected[(tree / "out" / names[i].beforeExtension).native()] = Bytes(20 + i, 20 + i);
        args.push_back(names[i].name);  // as typed in the folder itself: "-x.txt", "--copy"
    }
    const std::string in = (tree / "in").native() + "/";

    // After "--" nothing is an option: a copy run that sets its mode before it, then a move run.
    Lines copyArgs = args;
    copyArgs.insert(copyArgs.begin(), {"--copy", "--serial-after-extension"});
    CliOutcome o = run(tree / "in", copyArgs);
    std::string log = "処理開始...T\n";
    for (const auto& n : names) log += in + Shown(n.afterExtension) + "…Rename後Copy-T\n";
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(MaskTimes(o.out), log + "処理終了...T\n");

    o = run(tree / "in", args);
    log = "処理開始...T\n";
    for (const auto& n : names) log += in + Shown(n.beforeExtension) + "…Rename後Move-T\n";
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(MaskTimes(o.out), log + "処理終了...T\n");

    EXPECT_EQ(ReadContents({tree / "out"}), expected);
    EXPECT_TRUE(ListTree(tree / "in").empty());
}

TEST_F(HostileInputTest, ATreeDeeperThanPathMaxIsGatheredWholeAndLosesNothing)
{
    struct Mode {
        std::string name;
        bool copy, keep;
    };
    for (const Mode& m : {Mode {"keep-move", false, true}, Mode {"keep-copy", true, true}, Mode {"flat-move", false, false}}) {
        SCOPED_TRACE(m.name);
        const stdfs::path base = tree / m.name;
        tree.mkdir(m.name + "/out");
        // 20 levels of 251 bytes: the deepest file lies about 5,000 bytes down.
        const Lines files = MakeDeepTree(base / "in/deep", 20, {0, 5, 10, 15, 20});
        const Contents before = ReadContents({base / "in"});
        Lines args {"out", "in/deep"};
        if (m.keep) args.insert(args.begin(), "--keep-structure");
        if (m.copy) args.insert(args.begin(), "--copy");
        // The walk holds a folder open per level, two with the structure kept: more than a soft
        // limit of 24 descriptors allows, which is raised when reached.
        const CliOutcome o = run(base, args, {"prlimit", "--nofile=24:4096"});

        // Every step names an entry in an open folder, so no path the system has to follow
        // grows with the depth: the full paths exist only in the log.
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, "");
        const std::string log = MaskTimes(o.out);
        const Contents after = ReadContents({base / "in", base / "out"});
        EXPECT_EQ(Lost(before, after), Lines {});
        EXPECT_EQ(after.size(), before.size() + (m.copy ? files.size() : 0));
        for (const std::string& file : files) {
            const std::string src = (base / "in").native() + "/" + file;
            const std::string dst = (base / "out").native() + "/" + (m.keep ? file : stdfs::path(file).filename().native());
            EXPECT_NE(log.find("\n" + src + (m.copy ? "…Copy-T" : "…Move-T")), std::string::npos) << src.size();
            EXPECT_TRUE(after.contains(dst)) << dst.size();
            EXPECT_EQ(after.contains(src), m.copy);
        }
        // Moved: every emptied folder is removed, down to the dropped one.
        EXPECT_EQ(stdfs::exists(base / "in/deep"), m.copy);
    }
}

// A dropped link to a folder, and a dropped folder holding links (to a folder outside, to its own
// parent, a loop of two, one to itself), a file in a sub-folder and a FIFO or a socket last.
void HostileInputTest::gatherLinksAndSpecialFiles(const stdfs::path& dstRoot, bool crossFs)
{
    for (const bool socketFile : {false, true})
        for (const bool copy : {false, true})
            for (const bool keep : {false, true}) {
                const std::string name = std::string(socketFile ? "sock" : "fifo") + (copy ? "-copy" : "-move") + (keep ? "-keep" : "-flat");
                SCOPED_TRACE(name);
                const stdfs::path base = tree / name, out = dstRoot / name / "out";
                stdfs::create_directories(out);
                tree.write(name + "/elsewhere/kept.txt", Bytes(50, 1));
                tree.write(name + "/in/drop/data.bin", Bytes(60, 2));
                tree.write(name + "/in/drop/sub/deep.txt", Bytes(70, 3));
                stdfs::create_directory_symlink(base.native() + "/elsewhere/", base / "in/dirlink");
                stdfs::create_directory_symlink(base / "elsewhere", base / "in/drop/link-dir");
                stdfs::create_symlink("loop-b", base / "in/drop/loop-a");
                stdfs::create_symlink("loop-a", base / "in/drop/loop-b");
                stdfs::create_symlink("self", base / "in/drop/self");
                stdfs::create_directory_symlink("..", base / "in/drop/up");
                const stdfs::path special = base / "in/drop/sub/zz-special";
                if (socketFile) MakeSocket(special);
                else ASSERT_EQ(mkfifo(special.c_str(), 0600), 0);
                const Contents before = ReadContents({base});

                Lines args {out.native(), "in/dirlink", "in/drop"};
                if (keep) args.insert(args.begin(), "--keep-structure");
                if (copy) args.insert(args.begin(), "--copy");
                const CliOutcome o = run(base, args);

                // Within one file system a move is a rename, which carries a FIFO or a socket too;
                // their contents cannot be copied, so a copy of one fails and ends the run.
                const bool carried = !copy && !crossFs;
                const std::string in = (base / "in").native() + "/", marker = copy ? "…Copy-T\n" : "…Move-T\n";
                std::string log = "処理開始...T\n" + in + "dirlink" + marker;
                if (keep) log += out.native() + "/drop…フォルダ作成-T\n";
                for (const char* file : {"data.bin", "link-dir", "loop-a", "loop-b", "self", "up"}) log += in + "drop/" + file + marker;
                if (keep) log += out.native() + "/drop/sub…フォルダ作成-T\n";
                log += in + "drop/sub/deep.txt" + marker;
                if (carried)
                    log += in + "drop/sub/zz-special" + marker + in + "drop/sub…フォルダ削除-T\n" + in + "drop…フォルダ削除-T\n処理終了...T\n";
                else
                    log += in + "drop/sub/zz-special…処理中止\n";
                EXPECT_EQ(MaskTimes(o.out), log);
                EXPECT_EQ(o.err, carried ? "" : std::string("Pelkor: ") + (copy ? "コピー" : "移動") + "が正常に終了しませんでした\n");
                EXPECT_EQ(o.status, carried ? 0 : 1);

                // Links arrive as links with their own text; nothing they point at is touched.
                Contents expectedOut, expectedIn;
                for (const auto& [path, bytes] : before) {
                    if (!path.starts_with(in)) continue;
                    const std::string rel = path.substr(in.size());
                    if (!carried && rel.ends_with("zz-special")) {
                        expectedIn[path] = bytes;
                        continue;
                    }
                    if (copy) expectedIn[path] = bytes;
                    expectedOut[out.native() + "/" + (keep || rel == "dirlink" ? rel : stdfs::path(rel).filename().native())] = bytes;
                }
                EXPECT_EQ(ReadContents({out}), expectedOut);
                EXPECT_EQ(ReadContents({base / "in"}), expectedIn);
                EXPECT_EQ(ReadContents({base / "elsewhere"}), (Contents {{(base / "elsewhere/kept.txt").native(), Bytes(50, 1)}}));
                EXPECT_EQ(stdfs::exists(base / "in/drop"), !carried);
                EXPECT_EQ(Lost(before, ReadContents({base, out})), Lines {});
            }
}

TEST_F(HostileInputTest, LinksFifosAndSocketsWithinOneFileSystem)
{
    gatherLinksAndSpecialFiles(tree.root(), false);
}

TEST_F(HostileInputTest, LinksFifosAndSocketsAcrossFileSystems)
{
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is on the same file system as " << stdfs::temp_directory_path();
    const TempTree shm("/dev/shm");
    gatherLinksAndSpecialFiles(shm.root(), true);
}

TEST_F(HostileInputTest, AKeptFolderIsNeverMadeThroughALinkInItsPlace)
{
    tree.mkdir("out");
    tree.write("elsewhere/kept.txt", Bytes(50, 1));
    tree.write("q/A/B/z.txt", Bytes(60, 2));
    tree.mkdir("p/A");
    stdfs::create_directory_symlink(tree / "elsewhere", tree / "p/A/B");
    const Contents before = ReadContents({tree.root()});

    // p/A/B lands as the link out/A/B; q/A/B's files must not pour through it into "elsewhere".
    const CliOutcome o = run(tree.root(), {"--keep-structure", "out", "p/A", "q/A"});
    const std::string root = tree.root().native();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "sorvin: File exists\n");
    EXPECT_EQ(MaskTimes(o.out), "処理開始...T\n" + root + "/out/A…フォルダ作成-T\n" + root + "/p/A/B…Move-T\n" + root +
                                    "/p/A…フォルダ削除-T\n" + root + "/out/A/B…フォルダ作成-T…処理中止\n");
    EXPECT_EQ(ReadContents({tree / "elsewhere"}), (Contents {{(tree / "elsewhere/kept.txt").native(), Bytes(50, 1)}}));
    EXPECT_EQ(stdfs::read_symlink(tree / "out/A/B"), tree / "elsewhere");
    EXPECT_EQ(ReadFile(tree / "q/A/B/z.txt"), Bytes(60, 2));
    EXPECT_EQ(Lost(before, ReadContents({tree.root()})), Lines {});
}

// Another program, the moment the last file of top/a has arrived, renames the dropped folder away
// and puts a link to someone else's folder holding the same names in its place. The run goes on
// in the folder it opened and leaves the other one alone.
void HostileInputTest::raceAFolderSwap(const stdfs::path& dstRoot)
{
    const stdfs::path out = dstRoot / "out", top = tree / "src/top", victim = tree / "victim";
    stdfs::create_directories(out);
    for (unsigned i = 0; i < 8; ++i) tree.write("src/top/a/big" + std::to_string(i), Bytes(4u << 20, i));
    for (unsigned i = 0; i < 1000; ++i) {
        tree.write("src/top/b/small" + std::to_string(i), Bytes(100, 100 + i));
        tree.write("victim/b/small" + std::to_string(i), Bytes(100, 1000 + i));
    }
    tree.write("victim/a/keep.txt", Bytes(50, 1));
    tree.write("victim/b/secret.txt", Bytes(60, 2));
    const Contents before = ReadContents({top}), victimBefore = ReadContents({victim});

    const pid_t adversary = fork();
    if (adversary == 0) {
        // The last file of top/a is in place (a move across file systems deletes its source
        // later, with its batch); the run goes on with top/b.
        const stdfs::path last = out / "big7";
        while (access(last.c_str(), F_OK) != 0) {
        }
        if (rename(top.c_str(), (tree / "src/top.away").c_str()) != 0) _exit(1);  // the run got there first
        symlink(victim.c_str(), top.c_str());
        _exit(0);
    }
    const CliOutcome o = run(tree.root(), {out.native(), top.native()});
    kill(adversary, SIGKILL);  // should the run have failed before emptying top/a
    int status = 0;
    waitpid(adversary, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the swap came too late";

    const Contents victimAfter = ReadContents({victim});
    EXPECT_EQ(Lost(victimBefore, victimAfter), Lines {});
    EXPECT_EQ(victimAfter.size(), victimBefore.size());
    // Everything gathered; only the dropped folder's removal fails, its name being the link now.
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "sorvin: No such file or directory\n");
    EXPECT_EQ(ListTree(out).size(), 1008u);
    EXPECT_EQ(ListTree(tree / "src/top.away"), Lines {});
    EXPECT_EQ(Lost(before, ReadContents({out})), Lines {});
}

TEST_F(HostileInputTest, ADroppedFolderSwappedForALinkMidRunLeavesTheOtherFolderAlone)
{
    raceAFolderSwap(tree.root());
    if (!HaveSecondFileSystem()) GTEST_SKIP() << "/dev/shm is on the same file system as " << stdfs::temp_directory_path();
    RemoveTree(tree / "src");
    const TempTree shm("/dev/shm");
    raceAFolderSwap(shm.root());
}

}  // namespace
}  // namespace sorvin::test
