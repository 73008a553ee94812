// Process-wide settings, written once at start-up from the command line and read-only afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmar {

// 2,000,000,000 sectors (1,024 GB): the limit when the command line gives none or 0.
inline constexpr uint32_t kNoDriveSizeLimit = 2000000000u;

// Largest drive size the probe accepts; a larger detected size is cut down to it.
extern uint32_t g_maxDriveSectors;
// Cluster size in bytes the patch uses when it reformats the MPEG partition; 0: no override.
extern int32_t g_mpegClusterOverride;

// Lines for the run's log about command-line numbers that did not fit their setting (logged
// after the version line).
extern std::vector<std::string> g_settingNotes;

// Puts both settings back to their defaults (tests start from a clean state).
void ResetSettings();

}  // namespace quillmar
