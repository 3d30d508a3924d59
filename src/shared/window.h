// The one interface through which the engine and the run driver reach their window. The Qt
// window, the command-line front end and the tests' recording fake each implement it. Every
// option is read at the moment it is needed, so a change made during a run takes effect at the
// next read.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_system.h"

namespace sorvin {

enum class MenuOption {
    ExecButton,      // "実行ボタンを使う": a source drop prepares the run instead of starting it
    NumPosition,     // "連番を拡張子の後ろに付ける": the serial goes after the extension
    Crc32,           // "CRC32を使用する(遅い)": equal size is confirmed by CRC-32
    Genmitsu,        // "全ての同名ファイルをチェックする（遅い）": every walk starts at serial 000
    ErrMushi,        // "書き込みエラー以外を無視する": failures other than write errors pass silently
    Preview,         // "実行前に結果を確認する": a source drop prepares the run and shows its log beforehand
};

enum class MessageTitle { Pelkor, Application };
inline const char* TitleText(MessageTitle title) { return title == MessageTitle::Pelkor ? "Pelkor" : "sorvin"; }
enum class MessageIcon { None, Exclamation };
enum class DropTarget { Path, Pane };             // txtPath, rtfSorvinfile
enum class DropMode { Refuse, Take };
enum class GatherMode { Move, Copy };              // cmbMorC: "移動", "コピー"

class Window {
public:
    virtual ~Window() = default;

    // Options, read live.
    virtual bool checked(MenuOption option) const = 0;
    virtual bool folderKeep() const = 0;       // chkFolderKeep has the value 1
    virtual GatherMode mode() const = 0;       // cmbMorC
    virtual std::string pathText() const = 0;  // the text of txtPath, native path bytes

    // Output. Texts are UTF-8.
    virtual void setPaneText(const std::string& text) = 0;  // the log pane, assigned whole
    virtual void setCaption(const std::string& text) = 0;
    virtual std::string caption() const = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setProgressMax(int max) = 0;
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setCancelEnabled(bool enabled) = 0;   // cmdCancel, "中止"
    virtual void setExecEnabled(bool enabled) = 0;     // cmdEXEC, "実行"
    virtual bool execEnabled() const = 0;
    virtual void setDropMode(DropTarget target, DropMode mode) = 0;
    virtual void setMenuEnabled(bool enabled) = 0;              // mnuPopup
    virtual void message(const std::string& text, MessageTitle title, MessageIcon icon) = 0;

    // Lets pending window events run; a press of the stop button meanwhile raises the stop flag.
    virtual void yield() = 0;

    // For front ends that count the whole run: a file's gathering begins (every file, whatever its
    // outcome), and how many of its bytes the copy step has written so far.
    virtual void fileStarted(const fs::Entry& file) { (void)file; }
    virtual void fileCopied(std::uint64_t transferred) { (void)transferred; }
};

}  // namespace sorvin
