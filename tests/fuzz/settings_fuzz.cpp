// Any bytes in sorvin.ini give seven defined options, and the reader's own rules hold for them:
// a missing line repeats the last one, lines past the seventh are never read, LF reads as CR LF,
// and what is saved reads back as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "shared/text.h"
#include "window/settings.h"

namespace {

using sorvin::window::DecodeSettings;
using sorvin::window::Settings;

void Require(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "settings_fuzz: %s\n", what);
    std::abort();
}

// Each option's byte is 0 or 1: a bool left unset would read as anything.
bool Defined(const Settings& s)
{
    for (const bool* b : {&s.numPositionBottom, &s.crc32, &s.genmitsu, &s.folderKeep, &s.copy, &s.execButton, &s.errMushi}) {
        unsigned char byte;
        std::memcpy(&byte, b, 1);
        if (byte > 1) return false;
    }
    return true;
}

// The reader takes the whole file as UTF-8 or as CP932, so a variant is only comparable when it
// keeps that guess.
bool Utf8(std::string_view bytes) { return sorvin::DisplayText(bytes) == bytes; }

// The lines as the reader splits them: a last LF opens no further line.
std::vector<std::string_view> Lines(std::string_view bytes)
{
    std::vector<std::string_view> lines;
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        lines.push_back(bytes.substr(0, lf));
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Settings s = DecodeSettings(bytes);
    Require(Defined(s), "an option is neither on nor off");
    Require(DecodeSettings(bytes) == s, "the same bytes read differently");
    Require(DecodeSettings(sorvin::window::EncodeSettings(s)) == s, "saved options read back differently");
    if (bytes.empty()) Require(s == Settings{false, false, false, false, false, false, false}, "an empty file leaves an option on");

    const std::vector<std::string_view> lines = Lines(bytes);
    if (lines.size() > 7) {
        // The first seven lines with their LFs; an invalid byte there stays invalid in the whole.
        const std::string_view head(bytes.data(), static_cast<std::size_t>(lines[6].data() + lines[6].size() - bytes.data()) + 1);
        if (!Utf8(head) || Utf8(bytes)) Require(DecodeSettings(head) == s, "a line past the seventh was read");
    } else if (!lines.empty()) {
        std::string padded(bytes);
        if (!padded.ends_with('\n')) padded += '\n';
        for (std::size_t i = lines.size(); i < 7; ++i) (padded += lines.back()) += '\n';
        Require(DecodeSettings(padded) == s, "a missing line differs from a repeat of the last one");
    }

    std::string lf, crlf;
    for (char c : bytes)
        if (c != '\r') lf += c, crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Require(DecodeSettings(lf) == DecodeSettings(crlf), "LF and CR LF ends read differently");

    return 0;
}
