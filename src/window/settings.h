// sorvin.ini: the options kept between program runs, as seven lines of Shift_JIS text with CR LF
// ends in the current working directory, and an eighth only while the preview option is on. The
// bytes are fixed: a file written by any version of sorvin reads back the same in every other.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sorvin::window {

inline constexpr const char* kSettingsFileName = "sorvin.ini";
inline constexpr const char* kSettingsWriteFailed = "設定ファイルの書き込みに失敗";

// The lines in file order.
struct Settings {
    bool numPositionBottom = false;  // mnuNumPosition
    bool crc32 = false;              // mnuCRC32
    bool genmitsu = false;           // mnuGenmitsu
    bool folderKeep = false;         // chkFolderKeep
    bool copy = false;               // cmbMorC has "コピー" chosen
    bool execButton = true;          // mnuEB
    bool errMushi = false;           // mnuErrMushi
    bool preview = false;            // mnuPreview: "実行前確認=ON", written only when on
    bool operator==(const Settings&) const = default;
};

// What is written when no file exists. It differs from the window's own defaults on purpose: the
// first start runs with the window's, every later one with the file's.
inline constexpr Settings kDefaultFileSettings{false, true, true, false, false, false, false};

std::string EncodeSettings(const Settings& settings);

// Each line sets its option by how it ends; its key is never read. A line of the seven that is not
// there repeats the test on the last line that was, so an empty file turns every option off; the
// eighth, when not there, is off.
Settings DecodeSettings(std::string_view fileBytes);

// Nothing when there was no file: the default file is then created (if the folder allows it) and
// the window keeps its own defaults. A file that cannot be read counts as empty.
std::optional<Settings> LoadSettings(const std::filesystem::path& file);

// Writes a temporary file beside `file` and renames it over, so a failure leaves the old file as
// it was. Returns the text to show the user, or nothing on success.
std::optional<std::string> SaveSettings(const std::filesystem::path& file, const Settings& settings);

}  // namespace sorvin::window
