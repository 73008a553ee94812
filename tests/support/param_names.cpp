#include "tests/support/param_names.h"

#include <cctype>

namespace quillmar::testing {

std::string NameFromText(std::string_view text) {
  std::string name;
  bool gap = false;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
      gap = !name.empty();
      continue;
    }
    if (gap)
      name += '_';
    gap = false;
    name += c;
  }
  return name.empty() ? "None" : name;
}

std::string NameFromWords(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words)
    text += word + " ";
  return NameFromText(text);
}

std::string NameFromNumber(const char* prefix, long long number) {
  return prefix + (number < 0 ? "Minus" + std::to_string(-number) : std::to_string(number));
}

}  // namespace quillmar::testing
