// The scenario driver of the operation tests: image files listed as drives 0, 1, ..., a scripted
// front-end, the operations by name, and images byte-identical but for the sectors allowed.
#pragma once

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "disk/drive_map.h"
#include "drives/classify.h"
#include "ops/operations.h"
#include "tests/support/disk_image.h"
#include "tests/support/scripted_front_end.h"
#include "tests/support/temp_dir.h"

namespace quillmar::testing {

// How often a backup or restore got as far as starting its copy.
inline int operation_starts = 0;

enum class Op { kMirror, kMpeg, kPhoto, kPatch, kJoin, kBackup, kRestore };
using enum Op;

// Runs the operation on drives a and b (-1: none); photo is the patch's or join's Photo request.
inline int RunOp(Op op, int a, int b, uint32_t photo = 0) {
  auto started = [] { ++operation_starts; };
  const std::function<int()> runs[] = {
      [=] { return MirrorSystemPartition(a, b); },   [=] { return CopyMpegPartition(a, b); },
      [=] { return CopyPhotoPartition(a, b); },      [=] { return PatchSingleDrive(a, photo); },
      [=] { return AddSecondDrive(a, b, photo); },   [=] { return BackupSourceDrive(a, started); },
      [=] { return RestoreTargetDrive(a, started); }};
  return runs[static_cast<int>(op)]();
}

using MayChange = std::map<int, std::vector<SectorRun>>;  // drive: the sectors it may change

// What an in-place patch writes on a drive whose partition 2 starts at sector 4002 with clusters
// of 512 sectors: sectors 0 and 1, the system block and both superblock copies.
const std::vector<SectorRun> kPatchRuns = {{0, 2}, {4002, 1}, {4514, 1}, {5026, 1}}, kNoRuns;

class OpsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    operation_starts = 0;
    ui_.reset();
    SetDrivePaths({});
    ResetDriveTable();
    ResetSettings();
    ResetLogFacility();
  }

  std::string Image(const std::string& name) const { return dir_.File(name); }
  // Lists the images (names in the folder, or paths) as drives 0, 1, ... and classifies them.
  void UseDrives(std::vector<std::string> names) {
    for (std::string& name : names)
      name = name[0] == '/' ? name : Image(name);
    paths_ = names;
    SetDrivePaths(paths_);
    ResetDriveTable();
    ClassifyDrives();
  }

  ScriptedFrontEnd& ui() { return *ui_; }
  void NewFrontEnd() {
    ui_.reset();  // before the next one: its destructor resets the log facility
    ui_ = std::make_unique<ScriptedFrontEnd>(true, dir_.File("quillmar.log"));
  }
  // Queues answers written as "Y" and "N".
  void Answer(const std::string& answers) {
    for (char yes : answers)
      ui().Answer(yes == 'Y');
  }
  std::string LastBox() { return ui().boxes().empty() ? "" : ui().boxes().back().text; }
  std::string LastAsked() { return ui().questions().empty() ? "" : ui().questions().back().text; }
  bool ClaimedDone() {
    return ui().LoggedContaining("Copy Complete") || ui().LoggedContaining("PATCH COMPLETE") ||
           ui().LoggedContaining("Backup complete") || ui().LoggedContaining("Restore complete");
  }
  // The files of the folder (but the log and undo files) with a hash of their contents.
  std::map<std::string, uint64_t> Folder() const {
    std::map<std::string, uint64_t> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      if (entry.path().extension() != ".log" && entry.path().extension() != ".qun")
        files[entry.path().filename()] = entry.is_regular_file() ? ImageHash(entry.path()) : 0;
    return files;
  }

  // One successful step: answers, run, drives listed again. Each image must equal its copy taken
  // before once the allowed runs are punched out of both (they then read as zeros).
  void Step(Op op, int a, int b, uint32_t photo, const std::string& answers,
            const MayChange& allowed) {
    for (const std::string& path : paths_)
      ASSERT_TRUE(CopyImage(path, path + ".before"));
    Answer(answers);
    EXPECT_EQ(RunOp(op, a, b, photo), 0) << ui().Transcript();
    EXPECT_EQ(ui().unanswered(), 0u);
    for (int drive = 0; drive < static_cast<int>(paths_.size()); ++drive) {
      const std::string before = paths_[drive] + ".before", after = paths_[drive] + ".after";
      ASSERT_TRUE(CopyImage(paths_[drive], after));
      for (const std::string& masked : {before, after}) {
        int fd = ::open(masked.c_str(), O_RDWR | O_CLOEXEC);
        for (const SectorRun& run : allowed.contains(drive) ? allowed.at(drive) : kNoRuns) {
          EXPECT_TRUE(run.count == 0 || ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                                    static_cast<off_t>(run.first * 512),
                                                    static_cast<off_t>(run.count * 512)) == 0)
              << "cannot punch " << masked;
        }
        ::close(fd);
      }
      EXPECT_TRUE(ImagesEqual(before, after)) << paths_[drive] << " changed outside its runs";
      std::filesystem::remove(after);
    }
    UseDrives(paths_);
  }

  TempDir dir_;
  std::vector<std::string> paths_;
  std::unique_ptr<ScriptedFrontEnd> ui_;
};

}  // namespace quillmar::testing
