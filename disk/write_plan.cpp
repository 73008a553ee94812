#include "disk/write_plan.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>

#include "base/log.h"
#include "base/shown_path.h"
#include "disk/device_io.h"

namespace quillmar {

void WritePlan::AddDrive(const std::string& device, int fd, uint64_t limit) {
  int64_t length = Io().Length(fd);
  uint64_t bytes = length < 0 ? 0 : static_cast<uint64_t>(length);
  drives_.emplace_back(device, std::min(bytes, limit));
}

void WritePlan::AddWrite(Range range) {
  writes_.push_back(std::move(range));
}

void WritePlan::AddWrite(const std::string& device, uint64_t offset, uint64_t length,
                         std::string what) {
  Range range;
  range.device = device;
  range.offset = offset;
  range.length = length;
  range.what = std::move(what);
  writes_.push_back(std::move(range));
}

bool WritePlan::Check(Value value) {
  values_.push_back(std::move(value));
  return values_.back().holds;
}

const WritePlan::Value* WritePlan::Broken() const {
  auto broken =
      std::find_if(values_.begin(), values_.end(), [](const Value& v) { return !v.holds; });
  return broken == values_.end() ? nullptr : &*broken;
}

uint64_t WritePlan::DriveBytes(const std::string& device) const {
  for (const auto& [path, bytes] : drives_) {
    if (path == device)
      return bytes;
  }
  return 0;  // a drive the plan does not know takes no write
}

std::string WritePlan::Refusal() const {
  if (const Value* v = Broken()) {
    std::string name = v->name;
    if (!name.empty())
      name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return v->headline + RefusalDetail(Format("%s is %" PRIu64 ":\n           %s.", name.c_str(),
                                              v->value, v->rule.c_str()),
                                       v->device);
  }
  for (const Range& range : writes_) {
    uint64_t drive_end = DriveBytes(range.device);
    bool wraps = range.offset > std::numeric_limits<uint64_t>::max() - range.length;
    uint64_t end = wraps ? std::numeric_limits<uint64_t>::max() : range.offset + range.length;
    bool past_area = end > range.area_end;
    if (!past_area && end <= drive_end)
      continue;
    std::string area = past_area ? range.area : "the disk";
    return Format("*** ERROR: Nothing was written: %s would end at byte %" PRIu64
                  ",\n           beyond the end of %s (byte %" PRIu64 ").",
                  range.what.c_str(), end, area.c_str(), past_area ? range.area_end : drive_end) +
           RefusalDetail("", range.device);
  }
  return "";
}

std::string RefusalDetail(const std::string& detail, const std::string& device) {
  std::string text;
  if (!detail.empty())
    text += "\n           " + detail;
  return text + "\n           Disk: " + ShownPath(device);
}

}  // namespace quillmar
