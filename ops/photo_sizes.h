// The Photo partition sizes a user can choose for the patch, with the sectors each stands for.
// The MB rows are multiples of 1,048,576 bytes; the GB rows multiples of 10^9 bytes made slightly
// larger. The values are the recorder's own, not computed.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quillmar {

struct PhotoSize {
  std::string_view text;
  uint32_t sectors;
};

inline constexpr std::array<PhotoSize, 17> kPhotoSizeSectors = {{
    {"No change", 0},
    {"1MB", 2048},
    {"2MB", 4096},
    {"5MB", 10240},
    {"10MB", 20480},
    {"20MB", 40960},
    {"50MB", 102400},
    {"100MB", 204800},
    {"200MB", 409600},
    {"500MB", 1024000},
    {"1GB", 1953126},
    {"2GB", 3906304},
    {"3GB", 5859456},
    {"4GB", 7812608},
    {"5GB", 9765632},
    {"10GB", 19531264},
    {"20GB", 39062528},
}};

}  // namespace quillmar
