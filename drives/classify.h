// Classification of the drives: what sectors 0 and 1 of each drive say about it (recorder disk,
// byte order, partitions, pair position, PC disk), written into the drive table.
#pragma once

#include "disk/drive_table.h"

namespace quillmar {

// Probes on the first call in a run (clearing the table first), then reads sectors 0 and 1 of
// every known drive and derives its classification.
void ClassifyDrives();

// Classifies the drives again and returns the index of the first listed drive that is no longer
// what the list said of it (a disk swapped, removed or rewritten since), -1 when none: an
// operation must not act on the old record.
int FirstDriveChangedSinceListed();

// "*** ERROR: Drive N (PATH) changed since the drives were listed (...)", without a full stop.
std::string DriveChangedSinceListedText(int drive);

}  // namespace quillmar
