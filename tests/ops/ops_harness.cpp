#include "tests/ops/ops_harness.h"

#include <fcntl.h>
#include <linux/falloc.h>

#include <filesystem>
#include <fstream>

#include "base/log.h"
#include "base/settings.h"
#include "disk/drive_map.h"
#include "drives/classify.h"
#include "ops/operations.h"
#include "ops/verify.h"
#include "tests/support/raw_file.h"

namespace quillmar::testing {

int& OperationStarts() {
  static int starts = 0;
  return starts;
}

int RunOp(Op op, int a, int b, uint32_t photo) {
  auto started = [] { ++OperationStarts(); };
  std::vector<RangeComparison> ranges;
  switch (op) {
    case Op::kMirror:
      return MirrorSystemPartition(a, b);
    case Op::kMpeg:
      return CopyMpegPartition(a, b);
    case Op::kPhoto:
      return CopyPhotoPartition(a, b);
    case Op::kPatch:
      return PatchSingleDrive(a, photo);
    case Op::kJoin:
      return AddSecondDrive(a, b, photo);
    case Op::kBackup:
      return BackupSourceDrive(a, started);
    case Op::kRestore:
      return RestoreTargetDrive(a, started);
    case Op::kVerifyPhoto:
      return VerifyUpgradeRanges(a, b, UpgradeRange::kPhoto, &ranges);
  }
  return -1;
}

ReplayTvDisk Recorder(uint64_t sectors, bool rtv4000, uint64_t layout, uint32_t photo) {
  ReplayTvDisk disk;
  disk.disk_sectors = sectors;
  disk.rtv4000 = rtv4000;
  disk.layout_sectors = layout;
  disk.photo_sectors = photo;
  return disk;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<SectorRun> PatchRuns(uint64_t p2, uint64_t cluster_sectors, bool reset) {
  std::vector<SectorRun> runs = {{0, 2}, {p2, 1}, {p2 + cluster_sectors, 1},
                                 {p2 + 2 * cluster_sectors, 1}};
  if (reset)
    runs.push_back({p2 + 3 * cluster_sectors, cluster_sectors + 2});
  return runs;
}

void OpsTest::SetUp() {
  ResetLogFacility();
  ResetSettings();
  ResetDriveTable();
  OperationStarts() = 0;
}

void OpsTest::TearDown() {
  ui_.reset();
  SetVerifyAfterCopy(false);
  SetDrivePaths({});
  ResetDriveTable();
  ResetSettings();
  ResetLogFacility();
}

void OpsTest::UseDrives(const std::vector<std::string>& names) {
  paths_.clear();
  for (const std::string& name : names)
    paths_.push_back(name.empty() || name[0] == '/' ? name : Image(name));
  SetDrivePaths(paths_);
  Refresh();
}

void OpsTest::Refresh() {
  ResetDriveTable();
  ClassifyDrives();
}

ScriptedFrontEnd& OpsTest::ui() {
  if (!ui_)
    ui_ = std::make_unique<ScriptedFrontEnd>(true, dir_.File("quillmar.log"));
  return *ui_;
}

void OpsTest::Answer(const std::vector<bool>& answers) {
  for (bool yes : answers)
    ui().Answer(yes);
}

std::string OpsTest::LastBox() {
  return ui().boxes().empty() ? "" : ui().boxes().back().text;
}

std::string OpsTest::LastQuestion() {
  return ui().questions().empty() ? "" : ui().questions().back().text;
}

bool OpsTest::ClaimedDone() {
  for (const char* done :
       {"Copy Complete", "PATCH COMPLETE", "Backup complete", "Restore complete"}) {
    if (ui().LoggedContaining(done))
      return true;
  }
  return false;
}

void OpsTest::Snapshot(bool copies) {
  hashes_.clear();
  for (const std::string& path : paths_) {
    hashes_[path] = ImageHash(path);
    if (copies) {
      EXPECT_TRUE(CopyImage(path, path + ".before"));
    }
  }
}

::testing::AssertionResult OpsTest::Unchanged() const {
  for (const auto& [path, hash] : hashes_) {
    if (ImageHash(path) != hash)
      return ::testing::AssertionFailure() << path << " was changed";
  }
  return ::testing::AssertionSuccess();
}

// Both images with the allowed runs punched out (read as zeros) must be equal.
::testing::AssertionResult OpsTest::ChangedOnly(const std::vector<MayChange>& allowed) {
  for (size_t drive = 0; drive < paths_.size(); ++drive) {
    const std::string& path = paths_[drive];
    std::string before = path + ".masked-before", after = path + ".masked-after";
    if (!CopyImage(path + ".before", before) || !CopyImage(path, after))
      return ::testing::AssertionFailure() << "cannot copy " << path;
    for (const MayChange& change : allowed) {
      for (const SectorRun& run : change.runs) {
        for (const std::string& masked : {before, after}) {
          RawFile file(masked, O_RDWR);
          if (change.drive == static_cast<int>(drive) && run.count != 0 &&
              ::fallocate(file.fd(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                          static_cast<off_t>(run.first * 512),
                          static_cast<off_t>(run.count * 512)) != 0)
            return ::testing::AssertionFailure() << "cannot punch " << masked;
        }
      }
    }
    ::testing::AssertionResult same = ImagesEqual(before, after);
    std::filesystem::remove(before);
    std::filesystem::remove(after);
    if (!same)
      return ::testing::AssertionFailure() << path << " changed outside: " << same.message();
  }
  return ::testing::AssertionSuccess();
}

std::map<std::string, uint64_t> OpsTest::Folder() const {
  std::map<std::string, uint64_t> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    if (entry.path().filename() != "quillmar.log")
      files[entry.path().filename()] = entry.is_regular_file() ? ImageHash(entry.path()) : 0;
  }
  return files;
}

void OpsTest::Step(Op op, int a, int b, uint32_t photo, const std::vector<bool>& answers,
                   const std::vector<MayChange>& allowed) {
  Snapshot();
  Answer(answers);
  EXPECT_EQ(RunOp(op, a, b, photo), 0) << ui().Transcript();
  EXPECT_EQ(ui().unanswered(), 0u);
  EXPECT_TRUE(ChangedOnly(allowed));
  Refresh();
}

}  // namespace quillmar::testing
