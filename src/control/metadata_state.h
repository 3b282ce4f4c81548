// What the backup control keeps of the metadata table while it backs up
// (the table gathered, the files seen with several names) and once it has
// loaded an index (the table read, what the restore made of it).
#ifndef QVBACKUP_CONTROL_METADATA_STATE_H_
#define QVBACKUP_CONTROL_METADATA_STATE_H_

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "control/metadata_table.h"
#include "platform/text.h"
#include "qvbackup/qvbackupcontrol.h"
#include "qvbackup/wintypes.h"

namespace qv::control {

struct MetadataState {
  MetadataTable table;  // by entry of the control's index
  // Backup: files with more than one name, by device and inode, and the
  // entry that holds their content.
  std::map<std::pair<std::uint64_t, std::uint64_t>, DWORD> filesWithNames;
  // Restore: why the table could not be read (0: it was, or there is none),
  // and whether a locator led to one.
  DWORD loadError = 0;
  bool located = false;
  // Restore: the entries that live entries lie below.
  std::set<DWORD> parents;
  // Restore: where each file's content went, for its other names.
  std::map<DWORD, WString> restored;
  // Restore: the folders restored into, by target path, and their entries;
  // they get their metadata once what they hold is in place.
  std::map<WString, DWORD> folders;
  // Restore: what could not be given back (kMetadata*NotSet bits).
  DWORD notRestored = 0;
  // Backup: whether the member records the selection's state; both: the
  // items of earlier members it keeps. Restore: whether a record was
  // read, and why it could not be.
  bool chainState = false;
  std::vector<QVBC_KEPT_ENTRY> kept;
  DWORD chainStateError = 0;
  // Backup of items copied from other members (CopySavedItem): their
  // folders keep the metadata they were saved with, none is read from
  // the disk; and the entry each copied item got, by source and entry.
  bool copying = false;
  std::map<std::pair<const void*, DWORD>, DWORD> copied;

  const EntryMetadata* Find(DWORD entry) const {
    auto found = table.find(entry);
    return found == table.end() ? nullptr : &found->second;
  }
};

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_METADATA_STATE_H_
