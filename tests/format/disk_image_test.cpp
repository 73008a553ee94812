// The image helpers every other folder trusts, where a fault of theirs would let tests pass for
// nothing: images compared equal though they differ, patterns found where none were written.
#include "tests/support/disk_image.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace quillmar::testing {
namespace {

TEST(DiskImage, ComparisonsSeeEveryByteOfHugeSparseImages) {
  TempDir dir;
  std::string a = dir.File("a.img");
  std::string b = dir.File("b.img");
  Sector data = PatternSector(Pattern::kRecording, 299999999);
  for (const std::string& path : {a, b}) {
    ASSERT_TRUE(MakeBlankImage(path, 300000000));
    ASSERT_TRUE(WriteSectors(path, 299999999, data));
  }
  ASSERT_TRUE(WriteSectors(b, 1000, std::vector<uint8_t>(65536, 0)));
  EXPECT_TRUE(ImagesEqual(a, b));  // zeros written are the same content as a hole
  EXPECT_TRUE(HasPattern(b, 299999999, 1, Pattern::kRecording, 299999999));
  EXPECT_FALSE(HasPattern(b, 299999999, 1, Pattern::kRecording, 299999998));
  EXPECT_FALSE(HasPattern(b, 299999999, 1, Pattern::kSystem, 299999999));
  ASSERT_TRUE(CopyImage(b, dir.File("c.img")));
  ASSERT_TRUE(WriteBytes(b, 12345 * 512 + 17, std::vector<uint8_t>{1}));
  EXPECT_NE(std::string(ImagesEqual(a, b).message()).find("sector 12345 differs"),
            std::string::npos);
  // The same sector at another place is other content.
  ASSERT_TRUE(WriteSectors(dir.File("c.img"), 299999998, data));
  EXPECT_FALSE(ImagesEqual(a, dir.File("c.img")));
  EXPECT_NE(ImageHash(a), ImageHash(dir.File("c.img")));
}

}  // namespace
}  // namespace quillmar::testing
