// The commands of qvbackup. Each takes its own arguments (after the command
// name) and returns the exit status: 0 success, 1 failure or damage found,
// 2 bad usage. Each answers --help with its own usage on standard output.
#ifndef QVBACKUP_TOOLS_COMMANDS_H_
#define QVBACKUP_TOOLS_COMMANDS_H_

#include <vector>

#include "console.h"

namespace qvtool {

int RunBackup(const std::vector<WString>& arguments);
int RunRestore(const std::vector<WString>& arguments);
int RunList(const std::vector<WString>& arguments);
int RunVerify(const std::vector<WString>& arguments);
int RunScan(const std::vector<WString>& arguments);
int RunCount(const std::vector<WString>& arguments);
int RunLst(const std::vector<WString>& arguments);
int RunMembers(const std::vector<WString>& arguments);
int RunMerge(const std::vector<WString>& arguments);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_COMMANDS_H_
