#include "shared/text.h"

#include <ctime>

namespace sorvin {

std::string TimeText()
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char buf[64];
    std::size_t n = std::strftime(buf, sizeof buf, "%X", &local);
    return std::string(buf, n);
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when the byte there starts none.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i)
{
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    if (b < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b == 0xE0) len = 3, lo = 0xA0;
    else if (b >= 0xE1 && b <= 0xEC) len = 3;
    else if (b == 0xED) len = 3, hi = 0x9F;  // no UTF-16 surrogates
    else if (b >= 0xEE && b <= 0xEF) len = 3;
    else if (b == 0xF0) len = 4, lo = 0x90;
    else if (b >= 0xF1 && b <= 0xF3) len = 4;
    else if (b == 0xF4) len = 4, hi = 0x8F;
    else return 0;
    if (i + len > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

std::string DisplayText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        if (std::size_t len = Utf8SequenceLength(bytes, i)) {
            out.append(bytes.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        }
    }
    return out;
}

}  // namespace sorvin
