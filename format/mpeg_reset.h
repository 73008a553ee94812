// Empties the root directory of the MPEG partition (partition 2) and re-seals it and its copy.
#pragma once

#include <string>

namespace quillmar {

// 0 when the root directory was rewritten, -1 otherwise (nothing written on every refusal).
int ResetMpegPartition(const std::string& device_path);

}  // namespace quillmar
