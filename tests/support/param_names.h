// Readable names for parameterised test cases ("ClusterLadder/Sectors160086528", not the bytes of
// the parameter), as the last argument of INSTANTIATE_TEST_SUITE_P.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace quillmar::testing {

// The letters and digits of text, each other run of characters one underscore between them
// ("--photo 4GB" -> "photo_4GB"); "None" when none is left.
inline std::string NameFromText(std::string_view text) {
  std::string name;
  bool gap = false;
  for (char c : text) {
    bool keep = std::isalnum(static_cast<unsigned char>(c)) != 0;
    if (keep && gap && !name.empty())
      name += '_';
    gap = !keep;
    if (keep)
      name += c;
  }
  return name.empty() ? "None" : name;
}
inline std::string NameFromWords(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words)
    text += word + " ";
  return NameFromText(text);
}
// prefix and the number, a minus sign written "Minus" ("OffsetMinus512").
inline std::string NameFromNumber(const char* prefix, long long number) {
  return prefix + (number < 0 ? "Minus" + std::to_string(-number) : std::to_string(number));
}
inline std::string ByteOrderName(bool rtv4000) {
  return rtv4000 ? "Rtv4000" : "Standard";
}

// After the parameter's name field; a number parameter with a prefix; a list of words (or the
// parameter's args field); a byte order (bool), or a case with a name and a byte order.
struct ParamName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};
struct NumberName {
  const char* prefix;
  template <typename Info>
  std::string operator()(const Info& info) const {
    return NameFromNumber(prefix, static_cast<long long>(info.param));
  }
};
struct WordsName {
  std::string operator()(const ::testing::TestParamInfo<std::vector<std::string>>& info) const {
    return NameFromWords(info.param);
  }
  template <typename Info>
  std::string operator()(const Info& info) const {
    return NameFromWords(info.param.args);
  }
};
struct ByteOrderNames {
  std::string operator()(const ::testing::TestParamInfo<bool>& info) const {
    return ByteOrderName(info.param);
  }
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<std::tuple<Case, bool>>& info) const {
    return std::string(std::get<0>(info.param).name) + ByteOrderName(std::get<1>(info.param));
  }
};

}  // namespace quillmar::testing
