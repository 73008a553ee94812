#include "disk/copy_digest.h"

#include <optional>
#include <span>

#include "disk/undo_file.h"

namespace quillmar {
namespace {

bool g_keep = false;
std::optional<CopyDigest> g_digest;
bool g_complete = false;

}  // namespace

void KeepCopyDigests(bool on) {
  g_keep = on;
  g_digest.reset();
}

bool KeepingCopyDigests() {
  return g_keep;
}

void BeginCopyDigest(const std::string& source_path, const std::string& target_path,
                     uint64_t source_block, uint64_t target_block) {
  g_complete = false;
  g_digest.reset();
  if (g_keep)
    g_digest = CopyDigest{source_path, target_path, source_block, target_block, 0, {}};
}

void AddToCopyDigest(const uint8_t* chunk, size_t bytes) {
  if (g_digest)
    g_digest->chunks.push_back(ContentHash({chunk, bytes}));
}

void CompleteCopyDigest(uint64_t blocks) {
  if (!g_digest)
    return;
  g_digest->blocks = blocks;
  g_complete = true;
}

const CopyDigest* CompletedCopyDigest(const std::string& source_path,
                                      const std::string& target_path, uint64_t source_block,
                                      uint64_t target_block, uint64_t count) {
  if (!g_digest || !g_complete)
    return nullptr;
  const CopyDigest& d = *g_digest;
  bool same = d.source_path == source_path && d.target_path == target_path &&
              d.source_block == source_block && d.target_block == target_block &&
              (count == 0 || count == d.blocks);
  return same ? &d : nullptr;
}

}  // namespace quillmar
