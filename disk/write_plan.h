// What an operation will write, computed from the disks before its first write: every range per
// drive with the area it must stay inside, and every value derived from the disks with the rule
// it must meet. The operation validates the whole plan and writes only when it holds; a refusal
// names the drive and the value. A range past its drive's end is refused: an image never grows.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quillmar {

class WritePlan {
 public:
  struct Range {
    std::string device;
    uint64_t offset = 0;
    uint64_t length = 0;
    std::string what;  // "the superblock copy"
    std::string area;  // "partition 2"; empty when only the drive bounds it
    uint64_t area_end = std::numeric_limits<uint64_t>::max();  // first byte after the area
  };
  struct Value {
    std::string device;
    std::string name;  // "the cluster size of partition 2"
    uint64_t value = 0;
    bool holds = true;
    std::string rule;      // what the value must be
    std::string headline;  // the refusal's first line when it does not hold
  };

  // The bytes of the drive that the operation may write: its length as its descriptor reports it
  // (0 when that fails), at most limit.
  void AddDrive(const std::string& device, int fd,
                uint64_t limit = std::numeric_limits<uint64_t>::max());
  void AddWrite(Range range);
  // A range bounded by its drive alone.
  void AddWrite(const std::string& device, uint64_t offset, uint64_t length, std::string what);
  // Records a derived value; returns whether it meets its rule, so that a caller can stop
  // deriving from a value that is already wrong.
  bool Check(Value value);

  // The first value that breaks its rule, or nullptr.
  const Value* Broken() const;
  // "" when every value meets its rule and every range lies inside its drive and its area;
  // otherwise the refusal, naming the drive and the value or range.
  std::string Refusal() const;

  const std::vector<Range>& writes() const { return writes_; }
  const std::vector<Value>& values() const { return values_; }
  // The writable bytes of a drive as added; 0 for a drive the plan does not know.
  uint64_t DriveBytes(const std::string& device) const;

 private:
  std::vector<std::pair<std::string, uint64_t>> drives_;
  std::vector<Range> writes_;
  std::vector<Value> values_;
};

// A refusal's lines after the headline: the detail, then the drive it is about.
std::string RefusalDetail(const std::string& detail, const std::string& device);

}  // namespace quillmar
