// Any bytes in sorvin.ini give eight defined options, read the same with LF or CR LF ends, and
// what is saved reads back as it was; without an eighth line the eighth option is off.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "window/settings.h"

using namespace sorvin::window;

static void Require(bool ok, const char* what) { if (!ok) std::fprintf(stderr, "settings_fuzz: %s\n", what), std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const Settings s = DecodeSettings(bytes);
    // Each option's byte is 0 or 1: a bool left unset would read as anything.
    for (const bool* b : {&s.numPositionBottom, &s.crc32, &s.genmitsu, &s.folderKeep, &s.copy, &s.execButton, &s.errMushi, &s.preview})
        Require(*reinterpret_cast<const unsigned char*>(b) <= 1, "an option is neither on nor off");
    Require(DecodeSettings(EncodeSettings(s)) == s, "saved options read back differently");
    const auto lines = std::count(bytes.begin(), bytes.end(), '\n') + (bytes.empty() || bytes.ends_with('\n') ? 0 : 1);
    Require(lines >= 8 || !s.preview, "a file without an eighth line turns the preview on");
    std::string lf, crlf;
    for (char c : bytes) if (c != '\r') lf += c, crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Require(DecodeSettings(lf) == DecodeSettings(crlf), "LF and CR LF ends read differently");
    return 0;
}
