// qvbackup count: how many files, and how many bytes, each category would
// save, from whole partitions or below one folder.
#include <array>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "json_answer.h"
#include "options.h"
#include "profile_options.h"
#include "qvbackup/qvbackupengine.h"
#include "report.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup count (--partitions LETTERS | --base DIR) [OPTIONS]\n"
    "\n"
    "Counts the files and bytes of each category (Pictures, Music, Video,\n"
    "Offices, Mail, Financial), whose extensions GpExt.xml lists, and of\n"
    "Others: the files of no category. Total adds up every row (a file whose\n"
    "extension two categories list counts in both).\n"
    "\n"
    "  --partitions LETTERS   whole drives (such as CE), read raw when their volume can be\n"
    "  --base DIR             only the files below DIR; a DIR on a drive other than C:\n"
    "                         is counted on its own drive\n"
    "  --exclude-dir DIR      leave out DIR and all below it (repeatable)\n"
    "  --exclude-file FILE    leave out a file: a path, or a bare name in any folder (repeatable)\n"
    "  --exclude-ext EXT      leave out the files with this extension (repeatable)\n"
    "  --groups DIR           read GpExt.xml from DIR instead of the program's folder\n"
    "  --json                 {\"categories\": [{\"number\", \"name\", \"files\", \"bytes\"}, ...],\n"
    "                         \"others\": {\"files\", \"bytes\"}, \"total\": {\"files\", \"bytes\"}}\n"
    "  --drive L=ROOT[,DEVICE]  map a drive letter to a folder (and a raw device or image)\n";

struct Totals {
  ULONGLONG files = 0;
  ULONGLONG bytes = 0;
  bool reported = false;
};
using CategoryTotals = std::array<Totals, 6>;

// Keeps the totals the engine sends, one message per category.
class CountCallback : public CQVEngineCallback {
 public:
  explicit CountCallback(CategoryTotals* totals) : totals_(totals) {}

  void OnEngineMessage(DWORD dwCode, ULONGLONG, ULONGLONG ullValue2, ULONGLONG ullValue3,
                       ULONGLONG ullValue4) override {
    if (dwCode != ENGINE_MSG_CATEGORY_COUNT || ullValue2 == 0 || ullValue3 == 0 || ullValue4 == 0) return;
    const DWORD number = *reinterpret_cast<const DWORD*>(static_cast<std::uintptr_t>(ullValue2));
    if (number < 1 || number > totals_->size()) return;
    Totals& totals = (*totals_)[number - 1];
    totals.files = static_cast<ULONGLONG>(*reinterpret_cast<const LONGLONG*>(static_cast<std::uintptr_t>(ullValue3)));
    totals.bytes = static_cast<ULONGLONG>(*reinterpret_cast<const LONGLONG*>(static_cast<std::uintptr_t>(ullValue4)));
    totals.reported = true;
  }

 private:
  CategoryTotals* totals_;
};

struct CountRequest {
  WString partitions;  // drive letters, or empty
  WString base;        // drive path, or empty
};

// Reads and checks what to count. A non-zero result is the exit status.
int ReadRequest(const ParsedOptions& options, CountRequest* request) {
  WString why;
  if (!options.positionals.empty()) {
    return UsageError("count", Widen("unexpected argument '") + options.positionals[0] + Widen("'"));
  }
  if (options.Has("partitions") == options.Has("base")) {
    return UsageError("count", Widen("give either --partitions or --base"));
  }
  if (options.Has("partitions")) {
    if (!ParsePartitions(options.Value("partitions"), &request->partitions, &why)) return UsageError("count", why);
    for (WCHAR letter : request->partitions) {
      const WString root = WString(1, letter) + Widen(":\\");
      // Only files found in the drive's folder are counted, even when its
      // volume is read raw: a drive without one would count nothing.
      if (DWORD problem = FolderProblem(root)) return Fail(root, problem);
    }
    return 0;
  }
  if (!ToDrivePath(options.Value("base"), &request->base, &why)) return FailBecause(Widen("count"), why);
  if (DWORD problem = FolderProblem(request->base)) return Fail(request->base, problem);
  return 0;
}

// GetCount counts a base folder on drive C: only. A base on another drive
// is counted on that drive with the same per-category steps GetCount takes.
void CountOnOwnDrive(CQVBackupEngine& engine, const WString& base, QV_ARCHIVE_PROFILE_BACKUP& profile,
                     CategoryTotals* totals) {
  const WString root = base.substr(0, 1) + Widen(":\\");
  for (std::size_t i = 0; i < kCategoryTable.size(); ++i) {
    CQVStringArray extensions(16);
    engine.GroupExt_EnumerateExtensionsInGroup(Widen(kCategoryTable[i].name).c_str(), extensions, profile);
    LONGLONG files = 0;
    LONGLONG bytes = 0;
    engine.ComputeSizeInformationsOfCategory(root.c_str(), CQVString(base.c_str()), extensions, files, bytes, profile);
    (*totals)[i] = Totals{static_cast<ULONGLONG>(files), static_cast<ULONGLONG>(bytes), true};
  }
}

WCHAR LowerAscii(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; }

// Every extension the six groups list, each once: the search takes an
// extension without regard to case, so "JPG" and "jpg" are one.
CQVStringArray GroupedExtensions(CQVBackupEngine& engine, QV_ARCHIVE_PROFILE_BACKUP& profile) {
  CQVStringArray all(64);
  std::set<WString> seen;
  for (const CategoryInfo& category : kCategoryTable) {
    CQVStringArray group(16);
    engine.GroupExt_EnumerateExtensionsInGroup(Widen(category.name).c_str(), group, profile);
    for (DWORD i = 0; i < group.GetSize(); ++i) {
      WString key = group.GetAt(i).GetString();
      for (WCHAR& c : key) c = LowerAscii(c);
      if (seen.insert(key).second) all.Add(group.GetAt(i));
    }
  }
  return all;
}

// Others: the files the count takes that no group lists, as every file
// counted (extension mask "*") less those of a listed extension, on the
// partitions or below the base the categories were counted on.
Totals CountOthers(CQVBackupEngine& engine, const CountRequest& request, QV_ARCHIVE_PROFILE_BACKUP& profile) {
  CQVStringArray every(1);
  every.Add(CQVString(Widen("*").c_str()));
  CQVStringArray grouped = GroupedExtensions(engine, profile);
  std::vector<WString> roots;
  for (WCHAR letter : request.partitions) roots.push_back(WString(1, letter) + Widen(":\\"));
  if (roots.empty()) roots.push_back(request.base.substr(0, 1) + Widen(":\\"));
  Totals others;
  for (const WString& root : roots) {
    LONGLONG allFiles = 0;
    LONGLONG allBytes = 0;
    LONGLONG groupedFiles = 0;
    LONGLONG groupedBytes = 0;
    const CQVString base(request.base.c_str());
    engine.ComputeSizeInformationsOfCategory(root.c_str(), base, every, allFiles, allBytes, profile);
    if (grouped.GetSize() != 0) {
      engine.ComputeSizeInformationsOfCategory(root.c_str(), base, grouped, groupedFiles, groupedBytes, profile);
    }
    // An extension listed with a wildcard may take a file twice: never less than none.
    others.files += allFiles > groupedFiles ? static_cast<ULONGLONG>(allFiles - groupedFiles) : 0;
    others.bytes += allBytes > groupedBytes ? static_cast<ULONGLONG>(allBytes - groupedBytes) : 0;
  }
  others.reported = true;
  return others;
}

Totals SumOf(const CategoryTotals& totals, const Totals& others) {
  Totals sum = others;
  for (const Totals& category : totals) {
    sum.files += category.files;
    sum.bytes += category.bytes;
  }
  return sum;
}

WString HumanSize(ULONGLONG bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return Number(bytes) + Widen(" B");
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return Widen(text);
}

WString TableRow(const std::string& name, const std::string& files, const std::string& bytes, const WString& size) {
  char text[96];
  std::snprintf(text, sizeof(text), "%-10s %10s %16s  ", name.c_str(), files.c_str(), bytes.c_str());
  return Widen(text) + size + Widen("\n");
}

WString Row(const std::string& name, const Totals& totals) {
  return TableRow(name, std::to_string(totals.files), std::to_string(totals.bytes), HumanSize(totals.bytes));
}

void PrintTable(const CategoryTotals& totals, const Totals& others) {
  WString table = TableRow("Category", "Files", "Bytes", Widen("Size"));
  for (std::size_t i = 0; i < totals.size(); ++i) table += Row(kCategoryTable[i].name, totals[i]);
  table += Row("Others", others) + Row("Total", SumOf(totals, others));
  WriteOut(table);
}

WString FilesAndBytes(const Totals& totals) {
  return JsonObject().Add("files", totals.files).Add("bytes", totals.bytes).Text();
}

void PrintJson(const CategoryTotals& totals, const Totals& others) {
  std::vector<WString> categories;
  for (std::size_t i = 0; i < totals.size(); ++i) {
    categories.push_back(JsonObject()
                             .Add("number", static_cast<ULONGLONG>(kCategoryTable[i].number))
                             .Add("name", Widen(kCategoryTable[i].name))
                             .Add("files", totals[i].files)
                             .Add("bytes", totals[i].bytes)
                             .Text());
  }
  AnswerWith(JsonObject()
                 .AddRaw("categories", JsonArray(categories))
                 .AddRaw("others", FilesAndBytes(others))
                 .AddRaw("total", FilesAndBytes(SumOf(totals, others))));
}

}  // namespace

int RunCount(const std::vector<WString>& arguments) {
  ParsedOptions options;
  WString why;
  if (!ParseOptions(arguments,
                    {{"partitions", true, false},
                     {"base", true, false},
                     {"exclude-dir", true, true},
                     {"exclude-file", true, true},
                     {"exclude-ext", true, true},
                     {"groups", true, false}},
                    &options, &why)) {
    return UsageError("count", why);
  }
  if (options.Has("help")) return ShowUsage(kUsage);
  if (!ApplyDriveOptions(options, &why)) return UsageError("count", why);
  CountRequest request;
  if (int status = ReadRequest(options, &request)) return status;

  CategoryTotals totals;
  CountCallback callback(&totals);
  CQVBackupEngine engine(&callback);
  if (int status = ApplyExclusions("count", options, true, &engine)) return status;
  GroupsFolder groups;
  if (!groups.Enter(options, &why)) return FailBecause(Widen("count"), why);

  QV_ARCHIVE_PROFILE_BACKUP profile;
  ClearProfile(&profile);
  if (!request.base.empty() && request.base[0] != 'C') {
    CountOnOwnDrive(engine, request.base, profile, &totals);
  } else {
    engine.m_strMultiplePartScan = request.partitions;
    engine.GetCount(CQVString(request.base.c_str()), profile);
  }
  for (const Totals& category : totals) {
    if (!category.reported) return FailBecause(Widen("count"), Widen("the engine did not report every category"));
  }
  const Totals others = CountOthers(engine, request, profile);
  if (options.Has("json")) {
    PrintJson(totals, others);
  } else {
    PrintTable(totals, others);
  }
  return kExitSuccess;
}

}  // namespace qvtool
