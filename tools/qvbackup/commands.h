// The commands of qvbackup. Each takes its own arguments (after the command
// name) and returns the exit status: 0 success, 1 failure, 2 bad usage.
#ifndef QVBACKUP_TOOLS_COMMANDS_H_
#define QVBACKUP_TOOLS_COMMANDS_H_

#include <vector>

#include "console.h"

namespace qvtool {

int RunScan(const std::vector<WString>& arguments);
int RunBackup(const std::vector<WString>& arguments);
int RunRestore(const std::vector<WString>& arguments);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_COMMANDS_H_
