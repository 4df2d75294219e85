#pragma once

#include <string>
#include <string_view>

// Recipe files and remote file names are Windows-1252 bytes; inside, the program speaks
// UTF-8. These two functions are the only place where one turns into the other.
namespace quendelin::Cp1252 {

// Every byte has a character, so decoding never fails. The five bytes that Windows-1252
// leaves undefined (81, 8D, 8F, 90, 9D) become the C1 control characters of the same
// number, so that any byte string survives the round trip through UTF-8.
std::string toUtf8(std::string_view cp1252);

// A character that Windows-1252 cannot hold, and every byte of malformed UTF-8, becomes "?".
std::string fromUtf8(std::string_view utf8);

} // namespace quendelin::Cp1252
