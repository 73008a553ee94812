// Paths as the user sees them in messages, boxes, the log and the drive list. A path is any
// byte string but a NUL: a file name holding a line break or a terminal escape would print
// lines of its own ("[Done] Patch complete") into the output and the log. Shown paths have
// every control character written as a visible escape; paths used to open stay raw.
#pragma once

#include <string>

namespace quillmar {

// path with each control character (0x00-0x1F, 0x7F, and the C1 controls U+0080-U+009F in
// UTF-8) as \xHH per byte, so "a\nb" shows as "a\x0ab". Everything else is kept.
std::string ShownPath(const std::string& path);

}  // namespace quillmar
