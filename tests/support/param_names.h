// Readable names for parameterised test cases ("ClusterLadder/Sectors160086528", not the bytes of
// the parameter), as the last argument of INSTANTIATE_TEST_SUITE_P.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace quillmar::testing {

// The letters and digits of text; every other run of characters becomes one underscore between
// them ("copy-mpeg" -> "copy_mpeg", "--photo 4GB" -> "photo_4GB"); "None" when none is left.
std::string NameFromText(std::string_view text);
// The same for several words, such as a command line.
std::string NameFromWords(const std::vector<std::string>& words);
// prefix and the number, a minus sign written "Minus" ("Sectors160086528", "OffsetMinus512").
std::string NameFromNumber(const char* prefix, long long number);

// After the name field of the parameter.
struct ParamName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

// After a parameter that is a number, with a prefix that says what it counts.
struct NumberName {
  const char* prefix;
  template <typename Info>
  std::string operator()(const Info& info) const {
    return NameFromNumber(prefix, static_cast<long long>(info.param));
  }
};

// After a parameter that is a list of words (a command line), or has them as its args field.
struct WordsName {
  std::string operator()(const ::testing::TestParamInfo<std::vector<std::string>>& info) const {
    return NameFromWords(info.param);
  }
  template <typename Info>
  std::string operator()(const Info& info) const {
    return NameFromWords(info.param.args);
  }
};

// For cases run in both byte orders: a bool, or a tuple of a case with a name and a bool.
inline std::string ByteOrderName(bool rtv4000) {
  return rtv4000 ? "Rtv4000" : "Standard";
}
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
