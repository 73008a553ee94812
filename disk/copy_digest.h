// The fingerprint of what a copy wrote: one hash per chunk of the data as it went to the target.
// Kept while a read-back verification is to follow, so that the verification reads only the
// target, and the source again only where a chunk differs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmar {

struct CopyDigest {
  std::string source_path;
  std::string target_path;
  uint64_t source_block = 0;
  uint64_t target_block = 0;
  uint64_t blocks = 0;
  std::vector<uint64_t> chunks;  // ContentHash of each chunk of kCopyChunkBlocks (the last short)
};

// On: every copy keeps its digest until the next copy. Off (at start): none is kept.
void KeepCopyDigests(bool on);
bool KeepingCopyDigests();

// The copy engine's side: a copy starts (forgets the last digest), a chunk went out, the copy
// completed with every chunk on the target.
void BeginCopyDigest(const std::string& source_path, const std::string& target_path,
                     uint64_t source_block, uint64_t target_block);
void AddToCopyDigest(const uint8_t* chunk, size_t bytes);
void CompleteCopyDigest(uint64_t blocks);

// The digest of the last copy when it completed and copied exactly this range (count 0: to the
// source's end, as the copy was asked); else null.
const CopyDigest* CompletedCopyDigest(const std::string& source_path,
                                      const std::string& target_path, uint64_t source_block,
                                      uint64_t target_block, uint64_t count);

}  // namespace quillmar
