#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace sorvin::cli {

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string Bytes(double n)
{
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    int unit = 0;
    while (n >= 1024 && unit < 5) {
        n /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", n, units[unit]);
    return text;
}

std::string Duration(double seconds)
{
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

// Terminal cells of one code point: two for the wide East Asian ranges the captions use.
int Cells(char32_t c)
{
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The longest start of a UTF-8 text that fits `columns` cells, control characters shown as "?"
// so a name with a newline cannot break the line.
std::string CutToCells(const std::string& text, int columns)
{
    std::string out;
    int used = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + length > text.size()) break;
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const int cells = Cells(c);
        if (used + cells > columns) break;
        used += cells;
        if (c < 0x20 || c == 0x7F)
            out += '?';
        else
            out.append(text, i, length);
        i += length;
    }
    return out;
}

int TerminalColumns()
{
    winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

ProgressLine::ProgressLine(fs::TreeSize totals, Clock::time_point start) : totals_(totals), start_(start) {}

void ProgressLine::fileStarted(std::uint64_t size)
{
    if (filesStarted_ > 0) bytesDone_ += currentSize_;
    ++filesStarted_;
    currentSize_ = size;
    currentCopied_ = 0;
}

std::string ProgressLine::text(Clock::time_point now, int columns) const
{
    const std::uint64_t files = filesStarted_ == 0 ? 0 : filesStarted_ - 1;
    const std::uint64_t bytes = bytesDone_ + std::min(currentCopied_, currentSize_);
    // Files that appeared after the walk raise the totals rather than overrun them.
    const std::uint64_t allFiles = std::max(totals_.files, filesStarted_);
    const std::uint64_t allBytes = std::max(totals_.bytes, bytesDone_ + currentSize_);
    const double seconds = std::chrono::duration<double>(now - start_).count();

    std::string rate = "-", left = "--:--";
    if (seconds >= 0.5 && bytes > 0) {
        const double perSecond = static_cast<double>(bytes) / seconds;
        rate = Bytes(perSecond) + "/s";
        left = Duration(static_cast<double>(allBytes - bytes) / perSecond);
    }
    const std::string line = std::to_string(files) + "/" + std::to_string(allFiles) + " files  " + Bytes(static_cast<double>(bytes)) +
                             " / " + Bytes(static_cast<double>(allBytes)) + "  " + rate + "  " + left + " left  " + caption_;
    // One cell short of the width: a line that fills the last cell makes some terminals wrap.
    return CutToCells(line, std::max(columns - 1, 1));
}

void ProgressLine::update(Clock::time_point now)
{
    if (shown_ && now - lastDrawn_ < kRedrawEvery) return;
    lastDrawn_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r\033[K%s", text(now, TerminalColumns()).c_str());
    std::fflush(stderr);
}

void ProgressLine::clear()
{
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace sorvin::cli
