#pragma once

#include <string_view>

namespace quendelin::RemoteName {

// A name that stands for one file inside one directory, both on the server and in the
// library: not empty, not "." or "..", no "/" or "\" that could reach another directory, and
// no control character (C0, DEL or C1). A server may list anything; only such names are
// fetched, so a hostile listing cannot make us write outside the library.
bool isPlainFileName(std::string_view utf8);

} // namespace quendelin::RemoteName
