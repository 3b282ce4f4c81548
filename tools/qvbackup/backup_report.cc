#include "backup_report.h"

#include <cstdio>
#include <string>

#include "qvbackup/qvbackupfile.h"
#include "json_answer.h"
#include "report.h"

namespace qvtool {

namespace {

// Opening the file is all the probe asks: it stops at the first record.
DWORD StopAtOnce(QVBF_INTERNAL_DATA*) { return ERROR_CANCELLED; }

// Why a listed file is not in the archive. The run does not keep the
// reason; asking the file system again gives it for a file that is gone,
// was never readable or cannot be saved (a link).
WString ReasonNotSaved(const CQVString& path) {
  CQVBackupFile file(path.GetString());
  const bool opened = file.BackupFile(StopAtOnce, 1) || GetLastError() == ERROR_CANCELLED;
  const DWORD error = GetLastError();
  if (!opened) return ErrorText(error);
  return Widen("it could not be read while it was being saved");
}

WString Decimal(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", digits, value);
  return Widen(text);
}

double Ratio(const BackupReport& report) {
  return report.bytes == 0 ? 0.0 : static_cast<double>(report.archiveBytes) / static_cast<double>(report.bytes);
}

double MegabytesPerSecond(const BackupReport& report) {
  return report.seconds <= 0 ? 0.0 : static_cast<double>(report.bytes) / 1e6 / report.seconds;
}

void PrintJson(const BackupReport& report) {
  std::vector<WString> skipped;
  for (const SkippedFile& file : report.skipped) {
    skipped.push_back(JsonObject().Add("path", file.path).Add("reason", file.reason).Text());
  }
  JsonObject json;
  json.Add("files", report.files)
      .Add("folders", report.folders)
      .Add("links", report.links)
      .Add("bytes", report.bytes)
      .Add("archive_bytes", report.archiveBytes)
      .AddDouble("ratio", Ratio(report))
      .AddDouble("seconds", report.seconds)
      .AddDouble("mb_per_s", MegabytesPerSecond(report))
      .AddRaw("skipped", JsonArray(skipped));
  std::vector<WString> changed;
  for (const WString& path : report.changed) changed.push_back(JsonString(path));
  json.AddRaw("changed", JsonArray(changed));
  // Nothing written (an increment with nothing new): no archive, no member.
  if (report.archive.empty()) {
    json.AddRaw("archive", Widen("null")).AddRaw("increment", Widen("null"));
  } else {
    json.Add("archive", report.archive).Add("increment", report.increment);
  }
  std::vector<WString> removed;
  for (const SkippedFile& file : report.removed) {
    removed.push_back(JsonObject().Add("path", file.path).Add("reason", file.reason).Text());
  }
  json.Add("volumes", report.volumes).Add("unchanged", report.unchanged).Add("gone", report.gone).AddRaw("removed", JsonArray(removed));
  AnswerWith(json);
}

void PrintText(const BackupReport& report, const WString& name) {
  if (report.archive.empty()) {
    WriteOut(Widen("Nothing changed since the last backup of ") + name + Widen(" (") +
             Counted(report.unchanged, "file") + Widen(" unchanged): no increment written.\n"));
    return;
  }
  const WString what =
      report.increment == 0 ? Widen("Saved ") : Widen("Increment ") + Number(report.increment) + Widen(": saved ");
  WString items = Counted(report.files, "file");
  if (report.folders != 0) items += Widen(", ") + Counted(report.folders, "empty folder");
  if (report.links != 0) items += Widen(", ") + Counted(report.links, "link");
  WriteOut(what + items + Widen(", ") + Counted(report.bytes, "byte") + Widen(" read, into ") + report.archive +
           Widen("\n"));
  if (report.unchanged != 0) {
    WriteOut(Widen("Left out, unchanged since saved: ") + Counted(report.unchanged, "file") + Widen("\n"));
  }
  if (report.gone != 0) {
    WriteOut(Widen("No longer there since the last backup (deleted or renamed): ") + Counted(report.gone, "item") +
             Widen("\n"));
  }
  WriteOut(Widen("Archive: ") + Counted(report.archiveBytes, "byte") + Widen(" in ") + Counted(report.volumes, "volume") +
           Widen(", ratio ") + Decimal(Ratio(report), 3) + Widen(", ") + Decimal(report.seconds, 2) + Widen(" s, ") +
           Decimal(MegabytesPerSecond(report), 1) + Widen(" MB/s\n"));
  if (!report.changed.empty()) {
    WriteOut(Widen("Changed while read, saved as read (not a snapshot of one moment): ") +
             Counted(report.changed.size(), "file") + Widen("\n"));
    for (const WString& path : report.changed) WriteOut(Widen("  ") + path + Widen("\n"));
  }
  if (report.skipped.empty()) return;
  ULONGLONG folders = 0;
  for (const SkippedFile& file : report.skipped) folders += file.folder ? 1 : 0;
  const ULONGLONG files = report.skipped.size() - folders;
  WString counted = files != 0 ? Counted(files, "file") : WString();
  if (folders != 0) counted += (counted.empty() ? WString() : Widen(", ")) + Counted(folders, "folder");
  WriteOut(Widen("Not saved: ") + counted + Widen("\n"));
  for (const SkippedFile& file : report.skipped) {
    WriteOut(Widen("  ") + file.path + Widen(": ") + file.reason + Widen("\n"));
  }
}

}  // namespace

bool ReadBackMember(const ArchiveForm& form, DWORD increment, const std::set<CQVString>& listed,
                    BackupReport* report) {
  std::unique_ptr<CQVBackupControl> member = ReadMemberIndex(form, increment);
  if (!member) return false;
  for (const CQVString& path : listed) {
    const DWORD entry = FindSavedEntry(*member, path.GetString());
    if (entry != 0) {
      const DWORD kind = member->GetItemKind(entry);
      ++(kind == QVBC_ITEM_FOLDER ? report->folders : kind == QVBC_ITEM_LINK ? report->links : report->files);
      if (kind == QVBC_ITEM_FILE) report->bytes += member->GetIndex().GetSize(entry);
    } else {
      report->skipped.push_back({path.GetString(), ReasonNotSaved(path)});
    }
  }
  return true;
}

void PrintReport(const BackupReport& report, const WString& name, bool json) {
  if (json) {
    PrintJson(report);
  } else {
    PrintText(report, name);
  }
}

}  // namespace qvtool
