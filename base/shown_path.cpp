#include "base/shown_path.h"

#include <cstdint>

namespace quillmar {
namespace {

bool IsAsciiControl(uint8_t byte) {
  return byte < 0x20 || byte == 0x7F;
}

// The lead byte of a UTF-8 C1 control: C2 followed by 80..9F.
bool StartsC1Control(const std::string& text, size_t at) {
  return static_cast<uint8_t>(text[at]) == 0xC2 && at + 1 < text.size() &&
         static_cast<uint8_t>(text[at + 1]) >= 0x80 && static_cast<uint8_t>(text[at + 1]) <= 0x9F;
}

void AppendEscaped(std::string& out, uint8_t byte) {
  constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

}  // namespace

std::string ShownPath(const std::string& path) {
  std::string shown;
  shown.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    auto byte = static_cast<uint8_t>(path[i]);
    if (StartsC1Control(path, i)) {
      AppendEscaped(shown, byte);
      AppendEscaped(shown, static_cast<uint8_t>(path[++i]));
    } else if (IsAsciiControl(byte)) {
      AppendEscaped(shown, byte);
    } else {
      shown += path[i];
    }
  }
  return shown;
}

}  // namespace quillmar
