// Reading the kernel's sysfs attribute files: one line of text, a whole decimal number, or a
// device number "major:minor".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quillmar {

// The first line of a sysfs attribute file, or nothing when it cannot be read.
std::optional<std::string> ReadAttribute(const std::filesystem::path& file);

// The attribute as a whole decimal number, or nothing.
std::optional<uint64_t> ReadNumber(const std::filesystem::path& file);

// "8:16" -> (8, 16); false unless the text is exactly two numbers around a colon.
bool ParseDeviceNumber(const std::string& text, unsigned* major_number, unsigned* minor_number);

}  // namespace quillmar
