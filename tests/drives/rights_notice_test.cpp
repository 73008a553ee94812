#include "drives/rights_notice.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "disk/drive_map.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar {
namespace {

using testing::ScriptedFrontEnd;
using testing::TempDir;

// Without root the machine's disks would only list as "Empty": one box says how to get rights.
TEST(RightsNotice, IsShownWithoutRootUnlessDrivesWereNamed) {
  TempDir dir;
  for (bool named : {false, true}) {
    ScriptedFrontEnd ui(true, dir.File("quillmar.log"));
    SetDrivePaths(named ? std::vector<std::string>{"old.img"} : std::vector<std::string>{});
    const bool was_root = ::geteuid() == 0;
    ASSERT_TRUE(!was_root || ::seteuid(65534) == 0);
    ExplainMissingRights();
    ASSERT_TRUE(!was_root || ::seteuid(0) == 0);
    ASSERT_EQ(ui.boxes().size(), named ? 0u : 1u);
    if (!named) {
      EXPECT_EQ(ui.boxes()[0].caption, "Administrator rights needed");
    }
  }
  SetDrivePaths({});
}

}  // namespace
}  // namespace quillmar
