#pragma once
// UTF-8 validity of whole inputs. Files are checked before they are parsed: text that is not valid
// UTF-8 is a reading failure, not a parse error.

#include <string_view>

namespace tavo::json {

// True when `bytes` is well-formed UTF-8: shortest encodings only, no surrogate code points,
// nothing above U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

}  // namespace tavo::json
