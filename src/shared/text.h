// Text helpers shared by every log writer.
#pragma once

#include <string>
#include <string_view>

namespace sorvin {

// The time of day as the user's LC_TIME locale writes it ("%X"; 14:03:27 in the C locale).
std::string TimeText();

// Native path bytes as log text: valid UTF-8 passes unchanged, every invalid byte becomes U+FFFD.
std::string DisplayText(std::string_view nativeBytes);

}  // namespace sorvin
