#include "format/formatter.h"

#include <cinttypes>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/block_io.h"
#include "disk/sector_io.h"
#include "disk/unique_fd.h"
#include "format/fs_blocks.h"
#include "format/fs_checks.h"

namespace quillmar {
namespace {

// Writes one block to the given clusters of the partition, each positioned right before its
// write. A failed positioning stops everything (the block is written nowhere else); a failed
// write is reported by the writer and the remaining writes still follow.
class BlockWriter {
 public:
  BlockWriter(int fd, uint64_t partition_offset, uint32_t cluster_size, bool rtv4000)
      : fd_(fd), offset_(partition_offset), cluster_size_(cluster_size), rtv4000_(rtv4000) {}

  // Converts the block to the disk's order once, then writes it to each cluster. false when a
  // positioning failed (stop now).
  bool Write(FsBlock block, std::initializer_list<uint64_t> clusters) {
    if (rtv4000_)
      Rtv4000Byteswap(block);
    for (uint64_t cluster : clusters) {
      PlacedWrite outcome = WritePlaced(fd_, offset_ + cluster * cluster_size_, block);
      if (outcome == PlacedWrite::kNotPositioned)
        return false;
      if (outcome == PlacedWrite::kWriteFailed)
        write_failed_ = true;
    }
    return true;
  }

  bool write_failed() const { return write_failed_; }

 private:
  int fd_;
  uint64_t offset_;
  uint32_t cluster_size_;
  bool rtv4000_;
  bool write_failed_ = false;
};

bool ValidateRequest(uint32_t cluster_size, size_t directory_count) {
  // Below one metadata block per cluster, each block would overwrite half of the one before it.
  if (!IsRealClusterSize(cluster_size)) {
    LogAndShow(Format("*** ERROR: Cluster size %u is not real: %s; nothing was written",
                      cluster_size, ClusterSizeRule().c_str()),
               "*** ERROR ***");
    return false;
  }
  if (directory_count > kMaxDirectories) {
    LogAndShow(Format("*** ERROR: A root directory holds at most %zu directories, not %zu; "
                      "nothing was written",
                      kMaxDirectories, directory_count),
               "*** ERROR ***");
    return false;
  }
  return true;
}

// Writes every block of the file system; false when a positioning failed.
bool WriteFileSystem(BlockWriter& writer, uint32_t cluster_size, uint64_t cluster_count,
                     const std::string& label, const std::vector<std::string>& directories) {
  LogLine(Format("    Writing system block with %u clusters of %u bytes each",
                 static_cast<uint32_t>(cluster_count), cluster_size));
  if (!writer.Write(BuildSystemBlock(label, cluster_size, cluster_count), {0}))
    return false;

  LogLine(Format("    Writing superblock with label '%s'", label.c_str()));
  if (!writer.Write(BuildSuperblock(label, cluster_size, cluster_count), {1, 2}))
    return false;

  LogLine("    Writing root directory entry");
  if (!writer.Write(BuildRootDirectoryBlock(directories.size()),
                    {kRootDirectoryCluster, kRootDirectoryCluster + 1})) {
    return false;
  }

  for (size_t i = 0; i < directories.size(); ++i) {
    LogLine(Format("    Adding directory '%s' to partition", directories[i].c_str()));
    uint64_t cluster = DirectoryCluster(i);
    if (!writer.Write(BuildDirectoryBlock(i, directories[i]), {cluster, cluster + 1})) {
      return false;
    }
  }
  return true;
}

}  // namespace

int FormatPartition(const std::string& device_path, uint64_t partition_offset, bool rtv4000,
                    uint32_t cluster_size, uint64_t cluster_count, const std::string& label,
                    const std::vector<std::string>& directories) {
  LogLine(Format("*** Formatting partition on device '%s' at offset=%" PRIu64,
                 ShownPath(device_path).c_str(), partition_offset));
  if (rtv4000)
    LogLine("    Using RTV4000 byteswapping operations");
  if (!ValidateRequest(cluster_size, directories.size()))
    return -1;

  UniqueFd fd = UniqueFd::Open(device_path, OpenMode::kWriteOnly);
  if (!fd.valid()) {
    ReportOpenFailure(device_path);
    return -1;
  }

  WritePlan plan;
  plan.AddDrive(device_path, fd.get());
  PlanFormatWrites(plan, device_path, partition_offset, cluster_size, cluster_count,
                   directories.size(), "the partition's clusters");
  if (std::string refusal = plan.Refusal(); !refusal.empty()) {
    LogAndShow(refusal, "*** ERROR ***");
    return -1;
  }

  BlockWriter writer(fd.get(), partition_offset, cluster_size, rtv4000);
  bool positioned = WriteFileSystem(writer, cluster_size, cluster_count, label, directories);
  // Whatever was written is made durable, also after a failure, before anything reports success.
  bool flushed = FlushAndClose(fd) == 0;
  if (!positioned || !flushed || writer.write_failed())
    return -1;

  LogLine("*** Partition format complete");
  return 0;
}

void PlanFormatWrites(WritePlan& plan, const std::string& device, uint64_t partition_offset,
                      uint32_t cluster_size, uint64_t cluster_count, size_t directory_count,
                      const std::string& partition) {
  uint64_t end = partition_offset + cluster_count * cluster_size;
  uint64_t last_cluster = DirectoryCluster(directory_count);
  for (uint64_t cluster = 0; cluster < last_cluster; ++cluster) {
    plan.AddWrite({device, partition_offset + cluster * cluster_size, kFsBlockSize,
                   Format("the file system block at cluster %" PRIu64, cluster), partition, end});
  }
}

}  // namespace quillmar
