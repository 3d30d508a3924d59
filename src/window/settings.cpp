#include "window/settings.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "fs/errors.h"
#include "shared/text.h"

namespace sorvin::window {

namespace {

// Code page 932 rather than plain Shift_JIS: it is the Shift_JIS that Japanese text editors write.
constexpr const char* kFileCharset = "CP932";

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() { if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // A byte that does not convert becomes `replacement` and the conversion goes on after it.
    std::string operator()(std::string_view in, std::string_view replacement)
    {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::array<char, 256> buf;
        while (srcLeft > 0) {
            char* dst = buf.data();
            std::size_t dstLeft = buf.size();
            std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf.data(), dst);
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                out += replacement;
                ++src;
                --srcLeft;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t cd_;
};

std::string ErrorText(int err)
{
    if (fs::Classify(err) == fs::ErrorClass::PermissionDenied) return kSettingsWriteFailed;
    return std::generic_category().message(err);
}

// The file's seven lines in order: key=value, the option on when the line ends in its `on` value.
struct FileLine {
    bool Settings::*option;
    const char *key, *on, *off;
};
constexpr FileLine kFileLines[] = {
    {&Settings::numPositionBottom, "連番位置=", "BOTTOM", "TOP"},
    {&Settings::crc32, "CRC32=", "ON", "OFF"},
    {&Settings::genmitsu, "全同名ファイルのチェック=", "ON", "OFF"},
    {&Settings::folderKeep, "フォルダ構造維持=", "ON", "OFF"},
    {&Settings::copy, "動作モード=", "copy", "move"},
    {&Settings::execButton, "実行ボタン=", "使う", "使わない"},
    {&Settings::errMushi, "書き込みエラー以外無視=", "ON", "OFF"},
};
// Written only while on, so that with it off the file is the seven lines alone.
constexpr FileLine kPreviewLine {&Settings::preview, "実行前確認=", "ON", "OFF"};

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string EncodeSettings(const Settings& s)
{
    std::string text;
    for (const FileLine& line : kFileLines) text.append(line.key).append(s.*line.option ? line.on : line.off).append("\r\n");
    if (s.preview) text.append(kPreviewLine.key).append(kPreviewLine.on).append("\r\n");
    return Converter(kFileCharset, "UTF-8")(text, "?");
}

Settings DecodeSettings(std::string_view bytes)
{
    // A file that is valid UTF-8 is taken as such; Shift_JIS text with any Japanese in it never is.
    const bool utf8 = DisplayText(bytes) == bytes;
    Converter fromFile("UTF-8", kFileCharset);

    auto nextLine = [&] {
        const std::size_t lf = bytes.find('\n');
        std::string_view raw = bytes.substr(0, lf);
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
        if (raw.ends_with('\r')) raw.remove_suffix(1);
        return utf8 ? std::string(raw) : fromFile(raw, "\xEF\xBF\xBD");
    };

    Settings s;
    std::string line;  // a line the file runs out before repeats the last one read
    for (const FileLine& fileLine : kFileLines) {
        if (!bytes.empty()) line = nextLine();
        s.*fileLine.option = line.ends_with(fileLine.on);
    }
    s.preview = !bytes.empty() && nextLine().ends_with(kPreviewLine.on);
    return s;
}

std::optional<Settings> LoadSettings(const std::filesystem::path& file)
{
    std::error_code ec;
    auto status = std::filesystem::status(file, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        SaveSettings(file, kDefaultFileSettings);  // a folder that refuses it keeps no file
        return std::nullopt;
    }
    if (std::filesystem::is_directory(status)) return std::nullopt;

    std::ifstream in(file, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    return DecodeSettings(bytes);
}

std::optional<std::string> SaveSettings(const std::filesystem::path& file, const Settings& settings)
{
    const std::string name = file.native();
    struct stat old {};
    const bool exists = ::stat(name.c_str(), &old) == 0;
    // A file without write permission refuses the save even for root, who could otherwise
    // replace it: the user made it read-only to keep its options.
    if (exists && S_ISREG(old.st_mode) &&
        ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(name.c_str(), W_OK) != 0))
        return ErrorText(EACCES);

    std::filesystem::path folder = file.parent_path();
    std::string temp = (folder / ".sorvin.ini.XXXXXX").native();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return ErrorText(errno);

    mode_t mode;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    int err = 0;
    if (::fchmod(fd, mode) != 0 || !WriteAll(fd, EncodeSettings(settings)) || ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), name.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return ErrorText(err);
    }
    return std::nullopt;
}

}  // namespace sorvin::window
