// UTF-8 as the text writers (JSON, HTML, SVG) take it: file names on Linux are bytes, and a
// byte that starts no valid sequence is written as U+FFFD so that the output stays valid.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dorvex {

// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there starts none.
size_t Utf8SequenceLength(std::string_view text, size_t i);

// Text for HTML and XML, in content and in quoted attribute values: markup characters as
// entities, control characters XML does not allow dropped, invalid UTF-8 as U+FFFD.
std::string EscapeMarkup(std::string_view text);

}  // namespace dorvex
