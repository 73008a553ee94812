// Paths as messages show them: control characters escaped, everything else as it is.
#include "base/shown_path.h"

#include <gtest/gtest.h>

namespace quillmar {
namespace {

TEST(ShownPath, EscapesControlCharactersOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/sdb", "/dev/sdb"},
      {"a\n[Done] Patch complete\n", "a\\x0a[Done] Patch complete\\x0a"},
      {std::string("\0\x1f\x7f", 3), "\\x00\\x1f\\x7f"},
      {"\x1b[2J\r", "\\x1b[2J\\x0d"},
      {"\xc2\x9b"
       "31m \xc2\x80",
       "\\xc2\\x9b31m \\xc2\\x80"},                                  // C1 controls in UTF-8
      {"caf\xc3\xa9 \xc2\xa0 \\x0a", "caf\xc3\xa9 \xc2\xa0 \\x0a"},  // other UTF-8 and text kept
      {"\xc2", "\xc2"},
  };
  for (const auto& [path, shown] : cases)
    EXPECT_EQ(ShownPath(path), shown) << path;
}

}  // namespace
}  // namespace quillmar
