// qvbackup scan: loads a folder, or a whole volume read raw, into a file
// index and reports what it holds.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "json_answer.h"
#include "options.h"
#include "qvbackup/qvfilearray.h"
#include "report.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup scan [--list] PATH|DRIVE:\\\n"
    "\n"
    "Indexes a folder, or a whole drive (read raw when its drive maps to a\n"
    "device or an image), and says how many folders, files and bytes it holds.\n"
    "\n"
    "  --list    one line per entry instead: path, d or f, size, last write\n"
    "            time (100 ns units since 1601, UTC), attributes (hex), tab-separated\n"
    "  --json    {\"path\", \"folders\", \"files\", \"bytes\", \"seconds\", \"raw\"}\n"
    "  --drive L=ROOT[,DEVICE]  map a drive letter to a folder (and a raw device or image)\n";

struct ScanTotals {
  ULONGLONG folders = 0;
  ULONGLONG files = 0;
  ULONGLONG bytes = 0;
};

struct ScanResult {
  WString path;  // the drive path scanned
  bool raw = false;
  double seconds = 0;
};

WString Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(value));
  return Widen(text);
}

ULONGLONG TimeValue(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Visits every live entry in image order (the order in which they were
// added), following the size word that starts each entry.
template <typename Visit>
void ForEachLiveEntry(CQVFileArray& index, Visit visit) {
  DWORD imageSize = 0;
  const BYTE* image = index.GetRawData(&imageSize);
  constexpr std::size_t kSizeAt = offsetof(QVFA_INDEXENTRY, wSize);
  constexpr std::size_t kStateAt = offsetof(QVFA_INDEXENTRY, bState);
  auto sizeAt = [image](DWORD entry) {
    return static_cast<DWORD>(image[entry + kSizeAt] | (image[entry + kSizeAt + 1] << 8));
  };
  if (image == nullptr || imageSize < sizeof(QVFA_INDEXENTRY)) return;
  std::vector<DWORD> entries;
  // The root (at 0) is no folder of the tree.
  for (DWORD offset = sizeAt(0); offset != 0 && offset + sizeof(QVFA_INDEXENTRY) <= imageSize;) {
    if (!(image[offset + kStateAt] & QVFA_DELETED)) entries.push_back(offset);
    const DWORD size = sizeAt(offset);
    offset = size == 0 ? 0 : offset + size;
  }
  // Visiting may read the index, which hands out its image afresh.
  for (DWORD entry : entries) visit(entry);
}

WString ListLine(CQVFileArray& index, DWORD entry, const _tagQVFA_FILEINFO& info, bool folder) {
  WString line = static_cast<LPCWSTR>(index.GetPathName(entry));
  line += Widen(folder ? "\td\t" : "\tf\t");
  line += Number(info.ullSize) + Widen("\t") + Number(TimeValue(info.ftLastWriteTime)) + Widen("\t");
  return line + Hex(info.dwFileAttributes) + Widen("\n");
}

// Prints the summary (as text or JSON), or with `list` one line per live
// entry.
int Report(CQVFileArray& index, const ScanResult& result, bool list, bool json) {
  ScanTotals totals;
  ForEachLiveEntry(index, [&](DWORD entry) {
    const bool folder = index.IsDirectory(entry) != 0;
    _tagQVFA_FILEINFO info;
    index.GetFileInfo(entry, &info);
    if (folder) {
      ++totals.folders;
    } else {
      ++totals.files;
      totals.bytes += info.ullSize;
    }
    if (list) WriteOut(ListLine(index, entry, info, folder));
  });
  if (list) return kExitSuccess;
  if (json) {
    AnswerWith(JsonObject()
                   .Add("path", result.path)
                   .Add("folders", totals.folders)
                   .Add("files", totals.files)
                   .Add("bytes", totals.bytes)
                   .AddDouble("seconds", result.seconds)
                   .AddBool("raw", result.raw));
    return kExitSuccess;
  }
  char time[32];
  std::snprintf(time, sizeof(time), "%.3f", result.seconds);
  WriteOut(Widen("Scanned ") + result.path + Widen(result.raw ? " (volume read raw)\n" : "\n"));
  WriteOut(Widen("Indexed ") + Counted(totals.folders, "folder") + Widen(" and ") + Counted(totals.files, "file") +
           Widen(", ") + Counted(totals.bytes, "byte") + Widen(", in ") + Widen(time) + Widen(" s\n"));
  return kExitSuccess;
}

bool IsDriveRoot(const WString& target) {
  if (target.size() < 2 || target.size() > 3 || target[1] != ':') return false;
  const bool letter = (target[0] >= 'A' && target[0] <= 'Z') || (target[0] >= 'a' && target[0] <= 'z');
  return letter && (target.size() == 2 || target[2] == '\\');
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int RunScan(const std::vector<WString>& arguments) {
  ParsedOptions options;
  WString why;
  if (!ParseOptions(arguments, {{"list", false, false}}, &options, &why)) return UsageError("scan", why);
  if (options.Has("help")) return ShowUsage(kUsage);
  if (options.positionals.size() != 1) return UsageError("scan", Widen("give one folder or drive to scan"));
  const bool list = options.Has("list");
  const bool json = options.Has("json");
  if (list && json) return UsageError("scan", Widen("--list and --json exclude each other"));
  if (!ApplyDriveOptions(options, &why)) return UsageError("scan", why);
  const WString& target = options.positionals[0];

  ScanResult result;
  // A drive root ("E:" or "E:\") is read raw when its volume can be.
  if (IsDriveRoot(target)) {
    CQVFileArray volume;
    result.path = target.substr(0, 2) + Widen("\\");
    const auto start = std::chrono::steady_clock::now();
    if (volume.LoadVolume(result.path.c_str())) {
      result.raw = true;
      result.seconds = SecondsSince(start);
      return Report(volume, result, list, json);
    }
  } else {
    result.path = DrivePathOf(target);
    if (result.path.empty()) return FailBecause(target, Widen("no drive holds this path"));
  }

  // The folder itself goes in first: that tells a missing path or a file
  // from a folder, with the system's reason.
  CQVFileArray index;
  const DWORD folderEntry = index.Add(result.path.c_str());
  if (folderEntry == 0) return Fail(target, GetLastError());
  if (!index.IsDirectory(folderEntry)) return Fail(target, ERROR_DIRECTORY);
  const auto start = std::chrono::steady_clock::now();
  index.AddDirectory(result.path.c_str());
  result.seconds = SecondsSince(start);
  return Report(index, result, list, json);
}

}  // namespace qvtool
