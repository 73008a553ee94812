#include "cli/drive_listing.h"

#include <algorithm>
#include <vector>

#include "base/log.h"
#include "drives/drive_status.h"
#include "base/shown_path.h"

namespace quillmar::cli {
namespace {

// The highest index whose drive is present, 0 when none is: row 0 is always shown.
int LastRow(const std::array<DriveInfo, kMaxDrives>& drives) {
  for (int i = kMaxDrives - 1; i >= 1; --i) {
    if (drives[static_cast<size_t>(i)].size_sectors != 0)
      return i;
  }
  return 0;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A JSON string: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      json += Format("\\u%04x", static_cast<unsigned>(c));
    } else {
      json += c;
    }
  }
  return json + "\"";
}

const char* JsonBool(int flag) {
  return flag != 0 ? "true" : "false";
}

// Built by concatenation: a long device path must not be cut at the 1000-byte format buffer.
std::string JsonRow(int index, const DriveInfo& drive) {
  return "    {\"index\": " + std::to_string(index) +
         ", \"device\": " + JsonString(drive.device_path) +
         ", \"model\": " + JsonString(drive.model) +
         ", \"size_sectors\": " + std::to_string(drive.size_sectors) +
         ", \"size_gb\": " + std::to_string(drive.size_gb) +
         ", \"status\": " + JsonString(DriveStatusText(drive)) +
         ", \"is_replaytv\": " + JsonBool(drive.is_replaytv) +
         ", \"rtv4000\": " + JsonBool(drive.rtv4000) +
         ", \"unreadable\": " + JsonBool(drive.unreadable) +
         ", \"dual_position\": " + std::to_string(drive.dual_position) +
         ", \"patched\": " + JsonBool(drive.patched) +
         ", \"system_disk\": " + JsonBool(drive.system_disk) + "}";
}

}  // namespace

std::string RenderDriveListJson(const std::array<DriveInfo, kMaxDrives>& drives) {
  std::string json = "{\n  \"drives\": [\n";
  for (int i = 0; i <= LastRow(drives); ++i) {
    json += JsonRow(i, drives[static_cast<size_t>(i)]);
    json += i == LastRow(drives) ? "\n" : ",\n";
  }
  return json + "  ]\n}\n";
}

std::string DriveStatusText(const DriveInfo& drive) {
  return drive.size_sectors == 0 ? "Empty" : DriveListStatus(drive).text;
}

std::string RenderDriveList(const std::array<DriveInfo, kMaxDrives>& drives) {
  std::vector<std::array<std::string, 5>> rows = {{"Index", "Device", "Model", "Size", "Status"}};
  for (int i = 0; i <= LastRow(drives); ++i) {
    const DriveInfo& drive = drives[static_cast<size_t>(i)];
    if (drive.size_sectors == 0) {
      rows.push_back({Format("%d", i), "Empty", "", "", ""});
    } else {
      rows.push_back({Format("%d", i), ShownPath(drive.device_path), drive.model,
                      Format("%d GB", static_cast<int>(drive.size_gb)), DriveStatusText(drive)});
    }
  }
  std::array<size_t, 5> width{};
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c)
      width[c] = std::max(width[c], row[c].size());
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += c + 1 == row.size() ? row[c] : Padded(row[c], width[c] + 2);
    }
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    table += line + "\n";
  }
  return table;
}

}  // namespace quillmar::cli
