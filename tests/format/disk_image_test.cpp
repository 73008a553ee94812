#include "tests/support/disk_image.h"

#include <gtest/gtest.h>

#include "format/partition_block.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::TempDir;

TEST(DiskImage, HugeBlankImageCostsNothing) {
  TempDir dir;
  std::string path = dir.File("huge.img");
  ASSERT_TRUE(testing::MakeBlankImage(path, 300000000));
  EXPECT_EQ(testing::FileSize(path), 300000000LL * 512);
  testing::ImageHash(path);
}

}  // namespace
}  // namespace quillmar
