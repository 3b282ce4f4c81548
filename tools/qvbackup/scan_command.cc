// qvbackup scan: loads a folder into a file index and reports what it holds.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "qvbackup/host.h"
#include "qvbackup/qvfilearray.h"

namespace qvtool {

namespace {

struct ScanTotals {
  ULONGLONG folders = 0;
  ULONGLONG files = 0;
  ULONGLONG bytes = 0;
};

WString Number(ULONGLONG value) { return Widen(std::to_string(value)); }

WString Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(value));
  return Widen(text);
}

// The record is packed: its times are read through their halves.
ULONGLONG TimeValue(DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; }

// Visits every live entry in image order (the order in which they were
// added), following the size word that starts each entry.
template <typename Visit>
void ForEachLiveEntry(CQVFileArray& index, Visit visit) {
  DWORD imageSize = 0;
  const BYTE* image = index.GetRawData(&imageSize);
  std::vector<DWORD> entries;
  QVFA_INDEXENTRY header;
  std::memcpy(&header, image, sizeof(header));
  DWORD offset = header.wSize;
  while (offset != 0 && offset + sizeof(header) <= imageSize) {
    std::memcpy(&header, image + offset, sizeof(header));
    if (!(header.bState & QVFA_DELETED)) entries.push_back(offset);
    offset = header.wSize == 0 ? 0 : offset + header.wSize;
  }
  for (DWORD entry : entries) visit(entry);
}

int Fail(const WString& what, DWORD error) {
  WriteError(Widen("qvbackup: ") + what + Widen(" (error ") + Number(error) + Widen(")\n"));
  return 1;
}


// Prints the summary, or with `list` one line per live entry.
int Report(CQVFileArray& index, const WString& drivePath, bool list, double seconds) {
  ScanTotals totals;
  ForEachLiveEntry(index, [&](DWORD entry) {
    bool folder = index.IsDirectory(entry) != 0;
    _tagQVFA_FILEINFO info;
    index.GetFileInfo(entry, &info);
    if (folder) {
      ++totals.folders;
    } else {
      ++totals.files;
      totals.bytes += info.ullSize;
    }
    if (list) {
      WString line = static_cast<LPCWSTR>(index.GetPathName(entry));
      line += Widen(folder ? "\td\t" : "\tf\t");
      line += Number(info.ullSize) + QVT('\t') + Number(TimeValue(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)) + QVT('\t');
      line += Hex(info.dwFileAttributes) + QVT('\n');
      WriteOut(line);
    }
  });

  if (!list) {
    char time[32];
    std::snprintf(time, sizeof(time), "%.3f", seconds);
    WriteOut(Widen("Scanned ") + drivePath + QVT('\n'));
    WriteOut(Widen("Indexed ") + Number(totals.folders) + Widen(" folders and ") +
             Number(totals.files) + Widen(" files, ") + Number(totals.bytes) +
             Widen(" bytes, in ") + Widen(time) + Widen(" s\n"));
  }
  return 0;
}

}  // namespace

int RunScan(const std::vector<WString>& arguments) {
  bool list = false;
  WString target;
  for (const WString& argument : arguments) {
    if (argument == Widen("--list")) {
      list = true;
    } else if (target.empty() && !argument.empty() && argument[0] != u'-') {
      target = argument;
    } else {
      WriteError(Widen("usage: qvbackup scan [--list] PATH\n"));
      return 2;
    }
  }
  if (target.empty()) {
    WriteError(Widen("usage: qvbackup scan [--list] PATH\n"));
    return 2;
  }

  // A drive root ("E:" or "E:\") is read raw when its volume can be.
  const bool driveRoot = (target.size() == 2 || (target.size() == 3 && target[2] == QVT('\\'))) &&
                         target[1] == QVT(':') &&
                         ((target[0] >= QVT('A') && target[0] <= QVT('Z')) || (target[0] >= QVT('a') && target[0] <= QVT('z')));
  if (driveRoot) {
    CQVFileArray volume;
    auto start = std::chrono::steady_clock::now();
    if (volume.LoadVolume(target.c_str())) {
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      return Report(volume, target, list, seconds);
    }
  }
  WString drivePath = driveRoot ? target : DrivePathOf(target);
  if (drivePath.empty()) return Fail(Widen("no drive holds '") + target + Widen("'"), GetLastError());

  // The folder itself goes in first: that tells a missing path or a file
  // from a folder, with the system's reason.
  CQVFileArray index;
  DWORD folderEntry = index.Add(drivePath.c_str());
  if (folderEntry == 0) return Fail(Widen("cannot open '") + drivePath + Widen("'"), GetLastError());
  if (!index.IsDirectory(folderEntry)) {
    return Fail(Widen("'") + drivePath + Widen("' is not a folder"), ERROR_DIRECTORY);
  }
  auto start = std::chrono::steady_clock::now();
  index.AddDirectory(drivePath.c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  return Report(index, drivePath, list, seconds);
}

}  // namespace qvtool
