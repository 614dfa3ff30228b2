#pragma once
// The quoted debug form of a text, as error messages and representations
// write it: between double quotes, with \" \\ \t \r \n \0 and \u{h} escapes
// (h in lower-case hexadecimal) for other control or unprintable characters.

#include <string>
#include <string_view>

namespace kvel_support {

std::string debug_text(std::string_view text);
void append_debug_text(std::string& out, std::string_view text);

}  // namespace kvel_support
