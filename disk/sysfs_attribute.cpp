#include "disk/sysfs_attribute.h"

#include <charconv>
#include <fstream>
#include <system_error>

namespace quillmar {
namespace {

// A whole decimal number that fills text from first to last.
template <typename Number>
bool ParseWhole(const char* first, const char* last, Number* value) {
  auto [end, error] = std::from_chars(first, last, *value);
  return error == std::errc() && end == last && first != last;
}

}  // namespace

std::optional<std::string> ReadAttribute(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line))
    return std::nullopt;
  return line;
}

std::optional<uint64_t> ReadNumber(const std::filesystem::path& file) {
  std::optional<std::string> text = ReadAttribute(file);
  uint64_t value = 0;
  if (!text || !ParseWhole(text->data(), text->data() + text->size(), &value))
    return std::nullopt;
  return value;
}

bool ParseDeviceNumber(const std::string& text, unsigned* major_number, unsigned* minor_number) {
  size_t colon = text.find(':');
  if (colon == std::string::npos)
    return false;
  const char* begin = text.data();
  return ParseWhole(begin, begin + colon, major_number) &&
         ParseWhole(begin + colon + 1, begin + text.size(), minor_number);
}

}  // namespace quillmar
