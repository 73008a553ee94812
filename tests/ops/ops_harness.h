// The scenario driver of the operation tests: image files in a temporary folder listed as drives
// 0, 1, ..., a scripted front-end, the operations by name, and the check that every image is
// byte-identical to its snapshot except inside the sectors an operation may change.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disk/drive_table.h"
#include "tests/support/disk_image.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

enum class Op { kMirror, kMpeg, kPhoto, kPatch, kJoin, kBackup, kRestore, kVerifyPhoto };

// Runs the operation on drives a and b (-1: none); photo is the patch's Photo request.
int RunOp(Op op, int a, int b, uint32_t photo = 0);
// How often a backup or restore got as far as starting its copy.
int& OperationStarts();

// Sectors of drive `drive` that an operation may change.
struct MayChange {
  int drive;
  std::vector<SectorRun> runs;
};

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Image(const std::string& name) const { return dir_.File(name); }
  // Lists the images (names in the folder, or paths) as drives 0, 1, ... and classifies them.
  void UseDrives(const std::vector<std::string>& names);
  void Refresh();
  static DriveInfo& Drive(int index) { return DriveAt(index); }

  ScriptedFrontEnd& ui();
  // Replaces the front-end by a fresh one.
  void NewFrontEnd() {
    ui_.reset();
    ui();
  }
  void Answer(const std::vector<bool>& answers);
  std::string LastBox();
  std::string LastQuestion();
  // The operation said it finished.
  bool ClaimedDone();

  // Hashes every listed image and (with copies) keeps a copy of it for ChangedOnly.
  void Snapshot(bool copies = true);
  ::testing::AssertionResult Unchanged() const;
  ::testing::AssertionResult ChangedOnly(const std::vector<MayChange>& allowed);
  // The files of the folder (but the log) with a hash of their contents.
  std::map<std::string, uint64_t> Folder() const;

  // One successful step of a scenario: snapshot, answers, run, changes only where allowed, and
  // the drives listed again.
  void Step(Op op, int a, int b, uint32_t photo, const std::vector<bool>& answers,
            const std::vector<MayChange>& allowed);

  TempDir dir_;
  std::vector<std::string> paths_;

 private:
  std::unique_ptr<ScriptedFrontEnd> ui_;
  std::map<std::string, uint64_t> hashes_;
};

// A recorder disk of the support builders with the fields the tests vary.
ReplayTvDisk Recorder(uint64_t sectors, bool rtv4000 = false, uint64_t layout = 0,
                      uint32_t photo = 0);

// Creates or replaces a file holding bytes.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The sectors an in-place patch writes on a drive whose partition 2 starts at p2 with clusters
// of cluster_sectors: sectors 0 and 1, the system block and both superblock copies, and (reset)
// the root directory pair.
std::vector<SectorRun> PatchRuns(uint64_t p2, uint64_t cluster_sectors, bool reset = false);

}  // namespace quillmar::testing
