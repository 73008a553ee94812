#include "cli/usage_text.h"

namespace quillmar::cli {
namespace {

constexpr const char* kGlobalSynopsis = "quillmar-cli [--drive PATH]... [OPTIONS] COMMAND ...";

constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0  the operation finished\n"
    "  1  the operation failed, was refused, or was declined (also when a question had\n"
    "     no answer: no flag, no --yes and no terminal to ask on; nothing is written then)\n"
    "  2  usage error (unknown command or option, missing or malformed argument, a\n"
    "     --drive PATH that is not an image file or a block device, more than 16 --drive)\n"
    "  130  stopped by Ctrl-C or SIGTERM: a copy that runs stops at its next chunk, what it\n"
    "       wrote flushed, a question waiting and every later one is answered No, and\n"
    "       nothing after it runs; a second Ctrl-C ends at once. An operation that\n"
    "       finished all the same (the Ctrl-C came after its last write) exits 0\n";

constexpr const char* kGlobalOptions =
    "Options (before or after the command):\n"
    "  --drive PATH     use PATH (an image file or a device) as the next drive: the first\n"
    "                   --drive is drive 0, the next drive 1, ... (at most 16). A second\n"
    "                   name of a disk already named is left out. Without --drive the\n"
    "                   machine's own disks are the drives (needs root).\n"
    "  --limit SECTORS  largest drive size in 512-byte sectors; larger drives are taken as\n"
    "                   this size (0: the default, 2000000000 sectors = 1024 GB). The window's\n"
    "                   first number.\n"
    "  --cluster BYTES  cluster size the patch uses when it reformats the MPEG partition\n"
    "                   (0: its own choice): a power of two from 1024 to 2097152, and\n"
    "                   otherwise its own choice too, with a line saying why. The\n"
    "                   window's second number.\n"
    "  --yes, -y        answer Yes to every confirmation and warning\n"
    "  --quiet, -q      keep the log lines off the terminal (the log file still gets\n"
    "                   them; questions, errors and warnings still show)\n"
    "  --log FILE       append the log to FILE instead of quillmar.log in the current\n"
    "                   folder (or, where that cannot be written or is /, in\n"
    "                   $XDG_STATE_HOME/quillmar/, by default ~/.local/state/quillmar/)\n"
    "  --help, -h       show this help, or the command's help after a command\n"
    "  --version, -V    show the version line\n"
    "\n"
    "Results (the list, the inspection report, the demo's options) go to standard output;\n"
    "log lines, messages and questions to standard error.\n";

constexpr const char* kSafetyOptions =
    "Safety nets (where the command takes them):\n"
    "  --undo FILE         before each write, save the old contents of the sectors about to\n"
    "                      be written to the new file FILE (mirror, copy-mpeg, copy-photo,\n"
    "                      patch, join, restore, undo); 'quillmar-cli undo FILE' puts them back\n"
    "  --undo-limit BYTES  the largest copy of recordings or photos (copy-mpeg, copy-photo)\n"
    "                      whose old contents are saved, per drive (default 67108864, 64 MiB);\n"
    "                      a larger one is recorded as overwritten and cannot be undone (the\n"
    "                      confirmation says so)\n"
    "  --verify            read back what a copy wrote, past the cache, and compare it with\n"
    "                      the source (mirror, copy-mpeg, copy-photo, backup, restore); a\n"
    "                      difference fails the command\n";

constexpr const char* kAnswers =
    "Questions are asked on the terminal with their caption; only \"y\" or \"yes\" counts as\n"
    "Yes. Flags answer them instead where given; --yes answers the confirmations and\n"
    "warnings. Without a terminal, a question that has no answer is answered No.\n";

constexpr const char* kPatchFlags =
    "  --photo SIZE           new Photo partition size when it is reformatted: \"No change\"\n"
    "                         (the default), 1MB, 2MB, 5MB, 10MB, 20MB, 50MB, 100MB, 200MB,\n"
    "                         500MB, 1GB, 2GB, 3GB, 4GB, 5GB, 10GB, 20GB\n"
    "  --mpeg keep|reset|reformat\n"
    "                         the MPEG partition: keep it (patch in place, shows may be\n"
    "                         preserved), reset its root directory, or reformat it with a\n"
    "                         larger cluster size (answers \"Reset MPEG partition\" and\n"
    "                         \"Reformat MPEG partition\")\n"
    "  --format-photo yes|no  reformat the Photo partition (RTV4000 disks; answers\n"
    "                         \"Reformat photo partition\")\n";

struct HelpEntry {
  Command command;
  const char* synopsis;  // after "quillmar-cli [OPTIONS] "
  const char* summary;   // one line for the command list
  const char* details;   // the command's own help
};

const HelpEntry kHelp[] = {
    {Command::kList, "list [--json]", "list the drives with size and ReplayTV status",
     "Probes and classifies the drives and lists them as the window does: index, device,\n"
     "model, size and status (\"ReplayTV Disk\", \"RTV4000 Disk 1 of 2\", \"NOT a ReplayTV\n"
     "Disk\", ..., with \", NEEDS TO BE PATCHED\" where the partitions do not fill the disk).\n\n"
     "  --json  print the table as JSON: index, device, model, size_sectors, size_gb,\n"
     "          status and each flag of the classification\n"},
    {Command::kInspect, "inspect DRIVE", "report the ReplayTV structures of a drive",
     "Reads the partition block, the volume sequence block and the file-system blocks of\n"
     "drive DRIVE and reports them; for disk 1 of a two-drive system the listed disk 2 of 2\n"
     "is read with it. Exit status 1 when a structure does not verify.\n"},
    {Command::kMirror, "mirror SOURCE TARGET", "copy the partition table and system partition",
     "Copies sectors 0 and 1, the system partition and the first 5 MB of the MPEG partition\n"
     "of drive SOURCE to drive TARGET (the window's \"Copy System Partition\").\n"},
    {Command::kCopyMpeg, "copy-mpeg SOURCE TARGET", "copy the MPEG partition (recordings)",
     "Copies everything from the start of the MPEG partition of drive SOURCE to the same\n"
     "sectors of drive TARGET (the window's \"Copy MPEG Partition\"). Patch TARGET after it,\n"
     "with --mpeg keep.\n"},
    {Command::kCopyPhoto, "copy-photo SOURCE TARGET", "copy the Photo partition",
     "Copies the Photo partition of drive SOURCE (an RTV4000 disk) so that it ends at the\n"
     "last sector of drive TARGET (the window's \"Copy Photo Partition\").\n"},
    {Command::kPatch,
     "patch TARGET [--photo SIZE] [--mpeg keep|reset|reformat] [--format-photo yes|no]",
     "make a disk use all of its space",
     "Rewrites the partition block of drive TARGET so that the MPEG partition fills the\n"
     "disk (disks in standard byte order are limited to 137 GB), keeps or moves the Photo\n"
     "partition to the end, and patches, resets or reformats the MPEG file system (the\n"
     "window's \"Patch Target Drive\").\n"},
    {Command::kJoin,
     "join DRIVE1 DRIVE2 [--photo SIZE] [--mpeg keep|reset|reformat] [--format-photo yes|no]",
     "make a two-drive system",
     "Joins drive DRIVE1 (the ReplayTV disk) and drive DRIVE2 into one two-drive system:\n"
     "clears DRIVE2's partition table, writes both volume sequence blocks and patches the\n"
     "pair (the window's \"Make 2-Drive System\").\n"},
    {Command::kBackup, "backup SOURCE FILE", "save the system area to a *.rtv file",
     "Saves the partition block, the volume sequence block, the system partition and the\n"
     "first 5 MB of the MPEG partition of drive SOURCE to FILE (an existing FILE is replaced\n"
     "after a confirmation, and only once the new image is complete).\n"},
    {Command::kRestore, "restore FILE TARGET [--reset yes|no]",
     "write a *.rtv file back to a drive",
     "Writes the backup FILE to the start of drive TARGET, then offers to reset the MPEG\n"
     "partition's root directory. FILE must be a backup image: a regular file holding a\n"
     "ReplayTV partition block and the whole system area it describes, no larger than TARGET.\n\n"
     "  --reset yes|no  answers \"Reset MPEG partition?\" (recommended: yes)\n"},
    {Command::kDemo, "demo DIR", "write two sample drives (image files) into DIR",
     "Writes an old ReplayTV disk (standard byte order, about 1 GB) and a larger blank disk\n"
     "(about 3 GB) as sparse image files into DIR and prints the --drive options to use\n"
     "them.\n"},
    {Command::kUndo, "undo FILE [--force] [--undo FILE2]", "undo an operation from its undo file",
     "Puts back the old contents saved in the undo FILE, after checking that each drive is\n"
     "the disk FILE was made for and that every saved sector still holds what the operation\n"
     "wrote (or its old contents again), and asking before the first write. Sectors recorded\n"
     "as overwritten without a copy are named, not restored.\n\n"
     "  --force       undo even onto a disk that is different or was changed since\n"
     "  --undo FILE2  record the undo itself, so that it can be undone in turn\n"},
    {Command::kVerify, "verify SOURCE TARGET [system|mpeg|photo|all]",
     "compare the ranges an upgrade copies",
     "Compares the ranges an upgrade copies from drive SOURCE to drive TARGET (the system\n"
     "area, the MPEG partition, the Photo partition at the end of TARGET; all by default),\n"
     "reading TARGET past the cache, and prints per range and in all the blocks compared and\n"
     "the first difference. Exit status 1 when a range differs, or when SOURCE and TARGET\n"
     "are one disk or have none of the ranges asked for.\n"},
};

const HelpEntry* FindHelp(Command command) {
  for (const HelpEntry& entry : kHelp) {
    if (entry.command == command)
      return &entry;
  }
  return nullptr;
}

}  // namespace

std::string GeneralHelp() {
  std::string text =
      std::string("Usage: ") + kGlobalSynopsis + "\n\n" +
      "Prepares hard disks for ReplayTV recorders on drives and image files.\n" +
      "DRIVE, SOURCE, TARGET, DRIVE1 and DRIVE2 are drive indexes as 'list' shows them.\n\n" +
      "Commands:\n";
  for (const HelpEntry& entry : kHelp) {
    std::string name(CommandName(entry.command));
    name.resize(12, ' ');
    text += "  " + name + entry.summary + "\n";
  }
  text += "\n";
  text += kGlobalOptions;
  text += "\n";
  text += kSafetyOptions;
  text += "\n";
  text += kAnswers;
  text += "\n";
  text += kExitStatus;
  text += "\n'quillmar-cli COMMAND --help' shows a command's help.\n";
  return text;
}

std::string CommandHelp(Command command) {
  const HelpEntry* entry = FindHelp(command);
  if (entry == nullptr)
    return GeneralHelp();
  std::string text =
      std::string("Usage: quillmar-cli [OPTIONS] ") + entry->synopsis + "\n\n" + entry->details;
  if (command == Command::kPatch || command == Command::kJoin)
    text += std::string("\n") + kPatchFlags;
  text += "\n";
  text += kGlobalOptions;
  text += "\n";
  if (command != Command::kList && command != Command::kInspect && command != Command::kDemo &&
      command != Command::kVerify) {
    text += kSafetyOptions;
    text += "\n";
  }
  if (command != Command::kList && command != Command::kInspect && command != Command::kDemo) {
    text += kAnswers;
    text += "\n";
  }
  text += kExitStatus;
  return text;
}

std::string ShortUsage(Command command) {
  const HelpEntry* entry = FindHelp(command);
  if (entry == nullptr) {
    return std::string("Usage: ") + kGlobalSynopsis +
           "\nTry 'quillmar-cli --help' for the commands.\n";
  }
  return std::string("Usage: quillmar-cli [OPTIONS] ") + entry->synopsis + "\nTry 'quillmar-cli " +
         std::string(CommandName(command)) + " --help' for more.\n";
}

}  // namespace quillmar::cli
