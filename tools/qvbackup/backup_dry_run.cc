#include "backup_dry_run.h"

#include "json_answer.h"
#include "report.h"

namespace qvtool {

namespace {

WString UnreadReason(DWORD error) {
  return Widen("the folder cannot be read, nothing below it would be saved: ") + ErrorText(error);
}

}  // namespace

int PrintDryRun(const DryRunList& list, const WString& name, bool json) {
  const std::vector<std::pair<DWORD, WString>> none;
  const auto& unread = list.unreadFolders != nullptr ? *list.unreadFolders : none;
  if (json) {
    std::vector<WString> files;
    for (const CQVString& path : *list.paths) files.push_back(JsonString(path.GetString()));
    std::vector<WString> skipped;
    for (const auto& [error, folder] : unread) {
      skipped.push_back(JsonObject().Add("path", folder).Add("reason", UnreadReason(error)).Text());
    }
    AnswerWith(JsonObject()
                   .AddRaw("files", JsonArray(files))
                   .Add("count", static_cast<ULONGLONG>(list.paths->size()))
                   .Add("bytes", list.bytes)
                   .AddRaw("skipped", JsonArray(skipped)));
    return kExitSuccess;
  }
  WString text;
  for (const CQVString& path : *list.paths) text += WString(path.GetString()) + Widen("\n");
  WriteOut(text);
  for (const auto& [error, folder] : unread) {
    WriteError(Widen("qvbackup: backup: ") + folder + Widen(": ") + UnreadReason(error) + Widen("\n"));
  }
  WriteError(Widen("Dry run: ") + Counted(list.paths->size(), "item") + Widen(", ") + Counted(list.bytes, "byte") +
             Widen(" would be saved into ") + name + Widen("; nothing was written\n"));
  return kExitSuccess;
}

}  // namespace qvtool
