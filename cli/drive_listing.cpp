#include "cli/drive_listing.h"

#include <algorithm>
#include <vector>

#include "base/log.h"
#include "base/shown_path.h"
#include "drives/drive_status.h"

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

// The length of the UTF-8 character that starts at text[at], 0 when none does (a stray byte, a
// character cut short, an overlong form, a surrogate, a code point past U+10FFFF).
size_t Utf8Length(const std::string& text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  size_t length = lead < 0x80   ? 1
                  : lead < 0xC2 ? 0
                  : lead < 0xE0 ? 2
                  : lead < 0xF0 ? 3
                  : lead < 0xF5 ? 4
                                : 0;
  if (length == 0 || at + length > text.size())
    return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80)
      return 0;
  }
  unsigned char second = length > 1 ? byte(at + 1) : 0x80;
  bool out_of_range = (lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F);
  return out_of_range ? 0 : length;
}

// A JSON string: quotes, backslashes and control characters escaped, and every byte that is not
// part of a UTF-8 character (a file name in another encoding, a model cut at 40 bytes) replaced
// by U+FFFD, so that the output stays JSON.
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (size_t at = 0; at < text.size();) {
    char c = text[at];
    size_t length = Utf8Length(text, at);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      json += Format("\\u%04x", static_cast<unsigned>(c));
    } else if (length == 0) {
      json += "\\ufffd";
    } else {
      json.append(text, at, length);
    }
    at += length == 0 ? 1 : length;
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
