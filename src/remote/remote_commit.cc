#include "remote/remote_commit.h"

#include <algorithm>
#include <set>

#include "platform/file_ops.h"
#include "remote/remote_names.h"

namespace qv::remote {

namespace {

WString W(const char* text) { return platform::Utf8ToUtf16(text); }

constexpr ULONGLONG kLargestRecord = 1 << 20;
constexpr char kOld[] = "old ";
constexpr char kPlaced[] = "new ";

bool Contains(const std::vector<WString>& names, const WString& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The old files set aside, in the order they may go once the new archive
// is in place. While the old file of the new first volume's name lies
// aside, that name in place is the new one's: it goes last, or a run cut
// among the removals would be taken for one cut before the new first
// volume was placed, and undone over a new archive half removed.
std::vector<WString> AsideInRemovalOrder(const ReplaceRecord& record) {
  std::vector<WString> order;
  const WString& newFirst = record.placed.back();
  for (const WString& file : record.old) {
    if (file != newFirst) order.push_back(file);
  }
  if (Contains(record.old, newFirst)) order.push_back(newFirst);
  return order;
}

}  // namespace

WString RecordName(const WString& name) { return name + W(".qvcommit"); }

WString AsideName(const WString& name) { return name + W(".qvold"); }

std::string WriteRecord(const ReplaceRecord& record) {
  std::string text = "qvbackup replacement\n";
  for (const WString& name : record.old) text += kOld + platform::Utf16ToUtf8(name) + "\n";
  for (const WString& name : record.placed) text += kPlaced + platform::Utf16ToUtf8(name) + "\n";
  return text;
}

bool ReadRecord(const std::string& text, ReplaceRecord* record) {
  *record = ReplaceRecord();
  std::size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;  // cut short: not a record we wrote
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != "qvbackup replacement") return false;
      first = false;
      continue;
    }
    if (line.size() <= 4) return false;
    const WString name = platform::Utf8ToUtf16(line.substr(4));
    // A name is one file of the folder: nothing of another folder.
    if (name.find('/') != WString::npos || name.find('\\') != WString::npos) return false;
    if (line.compare(0, 4, kOld) == 0) {
      record->old.push_back(name);
    } else if (line.compare(0, 4, kPlaced) == 0) {
      record->placed.push_back(name);
    } else {
      return false;
    }
  }
  return !first && !record->placed.empty();
}

bool Replace(RcloneRemote& remote, RemoteUpload& upload, const WString& name, const std::vector<WString>& old,
             const std::vector<WString>& order, const WString& scratch) {
  ReplaceRecord record;
  record.old = old;
  record.placed = order;
  if (!remote.SendText(WriteRecord(record), RecordName(name), scratch)) return false;
  for (const WString& file : old) {
    if (!remote.Rename(file, AsideName(file))) return false;
  }
  if (!upload.Commit(order)) return FailWith(upload.error());
  // The new archive is in place: what was set aside may go. A file that
  // cannot be removed now is removed by the next run, through the record.
  for (const WString& file : AsideInRemovalOrder(record)) {
    if (!remote.Remove(AsideName(file))) return true;
  }
  remote.Remove(RecordName(name));
  return true;
}

namespace {

// Finishes or undoes the replacement `record` tells of.
bool FollowRecord(RcloneRemote& remote, const ReplaceRecord& record, const std::set<WString>& there,
                  Recovery* recovery) {
  auto isThere = [&](const WString& file) { return there.count(file) != 0; };
  auto remove = [&](const WString& file) {
    if (!remote.Remove(file)) return false;
    recovery->removed.push_back(file);
    return true;
  };
  // A name of both archives in place is the new one's while the old one's
  // still lies aside.
  auto isNew = [&](const WString& file) {
    return isThere(file) && (!Contains(record.old, file) || isThere(AsideName(file)));
  };
  recovery->keptNew = isNew(record.placed.back());
  if (recovery->keptNew) {
    for (const WString& file : AsideInRemovalOrder(record)) {
      if (isThere(AsideName(file)) && !remove(AsideName(file))) return false;
    }
    return true;
  }
  for (const WString& file : record.placed) {
    if (isNew(file) && !remove(file)) return false;
  }
  // The old first volume last: until it is back, the old archive is not
  // taken for whole.
  for (auto file = record.old.rbegin(); file != record.old.rend(); ++file) {
    if (isThere(AsideName(*file)) && !remote.Rename(AsideName(*file), *file)) return false;
  }
  return true;
}

}  // namespace

bool Recover(RcloneRemote& remote, const WString& name, const std::vector<RemoteFile>& files, Recovery* recovery) {
  *recovery = Recovery();
  std::set<WString> there;
  for (const RemoteFile& file : files) there.insert(file.name);
  const WString recordName = RecordName(name);
  if (there.count(recordName) != 0) {
    recovery->found = true;
    std::string text;
    if (!remote.ReadRange(recordName, 0, kLargestRecord, &text)) return false;
    ReplaceRecord record;
    // A record is sent under a temporary name and renamed whole: one that
    // does not read is no record of ours, and nothing is done by it.
    if (!ReadRecord(text, &record)) return FailWith(ERROR_INVALID_DATA);
    // It names this archive's volumes and nothing else: a name of any other
    // file (another archive's, "..") is no record of ours to follow.
    for (const std::vector<WString>* names : {&record.old, &record.placed}) {
      for (const WString& file : *names) {
        if (!IsVolumeOf(file, name)) return FailWith(ERROR_INVALID_DATA);
      }
    }
    if (!FollowRecord(remote, record, there, recovery) || !remote.Remove(recordName)) return false;
  }
  // What runs that did not end left on their way.
  for (const WString& file : there) {
    if (!IsLeftoverOf(file, name)) continue;
    if (!remote.Remove(file)) return false;
    if (std::find(recovery->removed.begin(), recovery->removed.end(), file) == recovery->removed.end()) {
      recovery->removed.push_back(file);
    }
  }
  return true;
}

}  // namespace qv::remote
