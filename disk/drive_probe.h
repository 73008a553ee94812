// The drive probe: for each drive index, whether a drive is there, its model text and its size
// in 512-byte sectors, written into the drive table and the two size tables. Runs once per
// program run, from the first classification.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "disk/probe_platform.h"

namespace quillmar {

// Probes drive indexes 0..15 in turn through the current probe platform, logging each finding.
void ProbeDrives();
void ProbeDrives(ProbePlatform& platform);

// Exchanges the two bytes of every 16-bit word of text, in place (IDENTIFY strings).
void SwapWordBytes(std::span<uint8_t> text);

// Tells the user, once per run, that raw drive access needs root. For opens refused with
// EACCES or EPERM.
void ReportRawAccessNeedsRoot();
// An image file whose open was refused with error (EACCES, EPERM): root is not the answer there,
// so the file and its problem are logged instead. False, with nothing logged, when path is not
// an image file.
bool ReportUnreadableImageFile(const std::string& path, int error);
// Forgets that the notice was given (tests start clean).
void ResetRawAccessNotice();

}  // namespace quillmar
