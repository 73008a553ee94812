// The patch in two halves: PreparePatch reads the first drive, asks the patch's questions and
// computes and validates its whole write plan without writing anything; ApplyPatch then writes
// what the plan holds. The join puts its own writes into the same plan before it is validated.
#pragma once

#include <cstdint>
#include <string>

#include "base/byte_order.h"
#include "disk/unique_fd.h"
#include "disk/write_plan.h"
#include "ops/operation_steps.h"
#include "ops/patch_layout.h"

namespace quillmar {

enum class MpegAction { kKeep, kReset, kReformat };

// One run of the patch: its inputs, the answers, the layout and the write plan.
struct PatchPlan {
  std::string first_device;
  std::string second_device;
  uint32_t first_sectors = 0;
  uint32_t second_sectors = 0;
  uint32_t second_reserve = 0;
  uint32_t photo_request = 0;

  bool rtv4000 = false;
  Sector partition_block{};  // standard order, as read
  MpegAction action = MpegAction::kKeep;
  bool reformat_photo = false;
  PatchLayout layout;
  uint32_t old_cluster_size = 0;  // of the MPEG file system as found
  ClusterChoice reformat;         // the cluster size of a reformat
  WritePlan writes;
  // The first drive, open for reading and writing from the plan to the patch's own writes (the
  // join closes it while it writes its blocks; ApplyPatch then opens it again).
  UniqueFd first_fd;
};

// Banner, partition block, questions, layout and write plan. 0 when the plan holds; -1 when
// the drive could not be opened or read, or the plan was refused (reported; nothing written).
int PreparePatch(PatchPlan& plan);

// Writes the prepared plan: 0 after "Patch complete"; -1 when a step failed (reported in a
// closing box that names what was done and what was not, with the steps already in steps: the
// join's own writes).
int ApplyPatch(PatchPlan& plan, OperationSteps& steps);

// Where the Photo partition's file system is written, and its clusters.
struct PhotoFormat {
  std::string device;
  uint64_t offset = 0;
  uint32_t cluster_size = 0;
  uint64_t clusters = 0;
};
PhotoFormat PlacePhotoFormat(const PatchPlan& plan);

// Adds every write of the patch to plan.writes, with the values they derive from fd (the first
// drive, open) and the layout, the answers and the drives' sizes.
void PlanPatchWrites(int fd, PatchPlan& plan);

}  // namespace quillmar
