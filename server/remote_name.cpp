#include "remote_name.hpp"

namespace quendelin::RemoteName {

bool isPlainFileName(std::string_view utf8) {
    if (utf8.empty() || utf8 == "." || utf8 == "..")
        return false;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == '\\')
            return false;
        // U+0080..U+009F, the C1 controls, are C2 80..C2 9F in UTF-8. Windows-1252 names
        // reach them through its five undefined bytes; some terminals act on them.
        if (byte == 0xC2 && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            if (next >= 0x80 && next <= 0x9F)
                return false;
        }
    }
    return true;
}

} // namespace quendelin::RemoteName
