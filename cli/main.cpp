// quillmar-cli: the disk operations from a terminal or a script.
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  return quillmar::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
