// An archive takes its place only when it is whole.
//
// BeginArchive writes every volume under its name + ".qvtmp". CloseArchive
// syncs each volume, then the header, and moves them into place in two
// steps: each becomes name + ".qvnew" (the first volume last: from that
// rename on the new member is committed, and readers take those files for
// its volumes), then each takes its final name (the first volume last
// again), replacing the old file of that name in one rename. Only then are
// the files that the new archive replaces removed. A run that dies leaves
// the old archive readable as it was, or the new one committed; the next
// run (under the archive's lock) finishes moving a committed member and
// clears away everything else a stopped run left.
#include <algorithm>
#include <cstring>

#include "log/last_error_keeper.h"
#include "log/qv_log.h"
#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/block_queue.h"
#include "storage/block_sealer.h"
#include "storage/member_files.h"
#include "storage/volume_names.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

namespace {

qv::WStringView View(const CQVString& text) { return qv::WStringView(text, text.GetLength()); }

bool Exists(const qv::WString& path) { return qv::platform::FileExists(path.c_str()); }

bool Remove(const qv::WString& path) {
  qv::platform::MakeWritable(path.c_str());
  return qv::platform::RemoveFile(path.c_str());
}

const WCHAR* ReasonWords(DWORD reason) {
  switch (reason) {
    case QVS_REMOVED_UNFINISHED: return QVT("left by a run that did not end");
    case QVS_REMOVED_OUTSIDE: return QVT("of no chain of this archive");
  }
  return QVT("replaced by the new archive");
}

}  // namespace

CQVPathString CQVStorage::VolumeFilePath(DWORD dwVolume, DWORD dwIncrement) {
  const DWORD current = GetDword(m_pHeader, header::kIncrement);
  const DWORD increment = dwIncrement == QVS_CURRENT_INCREMENT ? current : dwIncrement;
  CQVPathString path = GetArchiveVolumePath(dwVolume, increment);
  if (increment != current || m_bSFXReadMode) return path;
  if (m_bStaged) return CQVPathString(StagedPath(View(path), VolumeStage::kWriting).c_str());
  if (m_bReadMoving) {
    const qv::WString moving = StagedPath(View(path), VolumeStage::kMoving);
    if (Exists(moving)) return CQVPathString(moving.c_str());
  }
  return path;
}

// A sync that fails may have lost what was written before it (the system
// can drop the pages it could not write): the archive is broken from then
// on, every later write fails with the same error and it is never closed
// into place.
BOOL CQVStorage::SyncVolume() {
  if (m_dwSyncError != ERROR_SUCCESS) return Fail(m_dwSyncError);
  if (m_pVolume == nullptr || !m_bVolumeDirty) return TRUE;
  if (!m_pVolume->Sync()) {
    m_dwSyncError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    return Fail(m_dwSyncError);
  }
  m_bVolumeDirty = FALSE;
  return TRUE;
}

void CQVStorage::NoteRemoved(const WCHAR* pszPath, DWORD dwReason) {
  theLog.LogDetail(QVT("Removed %s, %s"), pszPath, ReasonWords(dwReason));
  m_vRemoved.push_back({CQVString(pszPath), dwReason});
}

DWORD CQVStorage::GetRemovedFileCount() const { return static_cast<DWORD>(m_vRemoved.size()); }

LPCWSTR CQVStorage::GetRemovedFile(DWORD dwIndex, DWORD* pdwReason) const {
  if (dwIndex >= m_vRemoved.size()) return nullptr;
  if (pdwReason != nullptr) *pdwReason = m_vRemoved[dwIndex].reason;
  return m_vRemoved[dwIndex].path;
}

// Volumes are written in order, so the staged ones are numbered without a
// gap; an archive without a volume limit has one. The volumes the host
// took count among them.
DWORD CQVStorage::CountStagedVolumes() {
  if (!HasVolumeLimit()) return qv::platform::FileExists(VolumeFilePath(0)) ? 1 : 0;
  DWORD count = 0;
  while (count < 0xFFFFFFFFu && (IsVolumeTaken(count) || qv::platform::FileExists(VolumeFilePath(count)))) ++count;
  return count;
}

void CQVStorage::RemoveStagedVolumes() {
  for (DWORD volume = 0, count = CountStagedVolumes(); volume < count; ++volume) {
    if (!IsVolumeTaken(volume)) Remove(qv::WString(View(VolumeFilePath(volume))));
  }
  ForgetTakenVolumes();
}

// Before anything is written (the archive's lock is held): a member that a
// stopped run had committed is moved into place, whatever else a stopped
// run left is removed, and so are the members of archives a base here
// replaced. False only when a committed member cannot be moved.
BOOL CQVStorage::RecoverArchiveFiles() {
  const auto list = [this] {
    return ListArchiveFiles(View(m_strFolder), View(m_strName), View(m_strIncrementTag), View(m_strExtension));
  };
  bool changed = false;
  std::vector<ArchiveFile> files = list();
  const CQVPathString baseFirst = GetArchiveVolumePath(0, 0);
  for (const ArchiveFile& first : files) {
    if (first.name.stage != VolumeStage::kMoving || first.name.volume > 1) continue;
    // An increment staged with a new base that never took its place is
    // left to be removed below.
    if (!TakesMovingVolumes(first.path, first.name.increment, qv::WString(View(baseFirst)), first.name.exe)) {
      continue;
    }
    const bool split = first.name.volume == 1;
    theLog.LogDetail(QVT("Finishing the move into place of %s"), first.path.c_str());
    for (const ArchiveFile& later : files) {
      if (later.name.stage != VolumeStage::kMoving || later.name.increment != first.name.increment ||
          later.name.volume <= 1 || !split) {
        continue;
      }
      const qv::WString target = later.path.substr(0, later.path.size() - qv::WStringView(kMovingSuffix).size());
      if (!qv::platform::RenameFile(later.path.c_str(), target.c_str())) return Fail(GetLastError());
    }
    const qv::WString target = first.path.substr(0, first.path.size() - qv::WStringView(kMovingSuffix).size());
    if (!qv::platform::RenameFile(first.path.c_str(), target.c_str())) return Fail(GetLastError());
    changed = true;
  }
  if (changed) files = list();
  for (const ArchiveFile& file : files) {
    if (file.name.stage == VolumeStage::kFinal) continue;
    if (Remove(file.path)) {
      NoteRemoved(file.path.c_str(), QVS_REMOVED_UNFINISHED);
      changed = true;
    }
  }
  const std::vector<MemberFiles> members = GroupMembers(files);
  std::vector<std::array<BYTE, 16>> replaced;
  for (const MemberFiles& member : members) replaced.insert(replaced.end(), member.replaced.begin(), member.replaced.end());
  for (const MemberFiles& member : members) {
    if (!member.readable || std::find(replaced.begin(), replaced.end(), member.identifier) == replaced.end()) continue;
    for (const qv::WString& path : member.paths) {
      if (Remove(path)) {
        NoteRemoved(path.c_str(), QVS_REMOVED_REPLACED);
        changed = true;
      }
    }
  }
  if (changed && !qv::platform::SyncFolder(m_strFolder)) return Fail(GetLastError());
  return TRUE;
}

BOOL CQVStorage::ClearLeftovers(QVS_ARCHIVE_INFO* pInfo) {
  if (pInfo == nullptr || pInfo->dwSize != sizeof(QVS_ARCHIVE_INFO)) return Fail(ERROR_INVALID_PARAMETER);
  if (m_bStaged) return Fail(ERROR_INVALID_STATE);
  const bool held = m_pLock != nullptr;
  if (!TakeLock(pInfo->pszFolder, pInfo->pszName, FALSE)) return FALSE;
  CQVStorage probe;
  BOOL cleared = probe.PrepareForReading(pInfo) && probe.RecoverArchiveFiles();
  const DWORD error = probe.GetError();
  m_vRemoved = probe.m_vRemoved;
  if (!held) m_pLock.reset();
  return cleared ? Succeed() : Fail(error);
}

// What the new archive replaces, to be removed once it is in place; a new
// base also records in its header the identifiers of the archives it
// replaces, so that a member of theirs left beside it by a stopped run is
// never read as one of its own.
BOOL CQVStorage::PlanReplacement() {
  m_vDoomed.clear();
  const std::vector<ArchiveFile> files =
      ListArchiveFiles(View(m_strFolder), View(m_strName), View(m_strIncrementTag), View(m_strExtension));
  const DWORD increment = GetDword(m_pHeader, header::kIncrement);
  if (increment != 0) {
    // The member whose run never ended, which this one takes the place of.
    for (const ArchiveFile& file : files) {
      if (file.name.stage == VolumeStage::kFinal && file.name.increment == increment) {
        m_vDoomed.push_back({CQVString(file.path.c_str()), QVS_REMOVED_UNFINISHED});
      }
    }
    return TRUE;
  }
  const std::vector<MemberFiles> members = GroupMembers(files);
  std::vector<std::array<BYTE, 16>> identifiers;
  auto keep = [&identifiers](const MemberFiles& member) {
    if (member.readable && identifiers.size() < header::kMostReplaced &&
        std::find(identifiers.begin(), identifiers.end(), member.identifier) == identifiers.end()) {
      identifiers.push_back(member.identifier);
    }
  };
  for (const MemberFiles& member : members) {
    if (member.increment == 0) keep(member);
  }
  for (const MemberFiles& member : members) keep(member);
  std::memset(m_pHeader + header::kReplacedCount, 0, 1 + header::kMostReplaced * header::kIdentifierSize);
  m_pHeader[header::kReplacedCount] = static_cast<BYTE>(identifiers.size());
  for (std::size_t i = 0; i < identifiers.size(); ++i) {
    std::memcpy(m_pHeader + header::kReplacedIdentifiers + i * header::kIdentifierSize, identifiers[i].data(),
                header::kIdentifierSize);
  }
  for (const MemberFiles& member : members) {
    DWORD reason = QVS_REMOVED_OUTSIDE;
    if (member.readable && member.closingOffset == 0) {
      reason = QVS_REMOVED_UNFINISHED;
    } else if (IsInChain(members, member)) {
      reason = QVS_REMOVED_REPLACED;
    }
    for (const qv::WString& path : member.paths) m_vDoomed.push_back({CQVString(path.c_str()), reason});
  }
  return TRUE;
}

// Every file the plan dooms that the new archive's `dwVolumes` volumes did
// not take the place of. One that cannot be removed stays; it is never
// read as part of the new chain (a base lists the archives it replaced) and
// the next run tries again.
void CQVStorage::RemoveReplacedFiles(DWORD dwVolumes) {
  std::vector<qv::WString> own;
  for (DWORD volume = 0; volume < dwVolumes; ++volume) {
    own.push_back(qv::WString(View(GetArchiveVolumePath(volume))));
  }
  bool removed = false;
  for (const RemovedFile& doomed : m_vDoomed) {
    const qv::WStringView path = View(doomed.path);
    if (std::any_of(own.begin(), own.end(), [&](const qv::WString& mine) { return SameFileName(mine, path); })) {
      continue;
    }
    if (Remove(qv::WString(path))) {
      NoteRemoved(doomed.path, doomed.reason);
      removed = true;
    } else if (Exists(qv::WString(path))) {
      theLog.LogError(QVT("%s could not be removed"), doomed.path.GetString());
    }
  }
  m_vDoomed.clear();
  if (removed) qv::platform::SyncFolder(m_strFolder);
}

// The staged volumes 0..dwVolumes-1 take their final names. False with the
// error; before the first volume is committed the staged files are removed
// again and the old archive is untouched.
BOOL CQVStorage::MoveIntoPlace(DWORD dwVolumes) {
  const auto staged = [this](DWORD volume) { return qv::WString(View(VolumeFilePath(volume))); };
  const auto finalPath = [this](DWORD volume) { return qv::WString(View(GetArchiveVolumePath(volume))); };
  const auto moving = [&](DWORD volume) { return StagedPath(finalPath(volume), VolumeStage::kMoving); };
  const auto giveUp = [&](DWORD error) {
    for (DWORD volume = 0; volume < dwVolumes; ++volume) {
      if (Exists(moving(volume))) Remove(moving(volume));
    }
    RemoveStagedVolumes();
    return Fail(error);
  };
  if (dwVolumes == 1) {
    if (!qv::platform::RenameFile(staged(0).c_str(), finalPath(0).c_str())) return giveUp(GetLastError());
    return qv::platform::SyncFolder(m_strFolder) ? TRUE : Fail(GetLastError());
  }
  // The volumes the host took are its own to put in place.
  for (DWORD volume = dwVolumes; volume-- > 0;) {
    if (IsVolumeTaken(volume)) continue;
    if (!qv::platform::RenameFile(staged(volume).c_str(), moving(volume).c_str())) return giveUp(GetLastError());
  }
  // Committed: from here on the new archive is read from its ".qvnew" files
  // until they carry their names. A folder that fails to sync does not stop
  // the move (the new archive is whole and synced); it fails the run.
  DWORD error = qv::platform::SyncFolder(m_strFolder) ? ERROR_SUCCESS : GetLastError();
  for (DWORD volume = 1; volume <= dwVolumes; ++volume) {
    const DWORD which = volume == dwVolumes ? 0 : volume;
    if (IsVolumeTaken(which)) continue;
    if (!qv::platform::RenameFile(moving(which).c_str(), finalPath(which).c_str())) return Fail(GetLastError());
  }
  if (!qv::platform::SyncFolder(m_strFolder) && error == ERROR_SUCCESS) error = GetLastError();
  return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

// CloseArchive of an archive being created: blocks written, every volume
// synced and then the header, the volumes moved into place, what they
// replace removed, the lock let go.
BOOL CQVStorage::FinishArchive() {
  const auto abandon = [this](DWORD error) {
    AbandonArchive();
    return Fail(error);
  };
  if (!SettleQueue()) return abandon(GetError());
  if (m_dwSyncError != ERROR_SUCCESS) return abandon(m_dwSyncError);
  DropQueue();
  m_pSealer.reset();
  if (!SyncVolume()) return abandon(GetError());
  if (!HeaderWrite() || !SyncVolume()) return abandon(GetError());
  const DWORD volumes = CountStagedVolumes();
  CloseVolume();
  if (m_bRewriting) {
    // A member of a rewritten chain waits under its temporary names for
    // the others (CommitChainRewrite).
    m_bStaged = FALSE;
    ++m_dwRewrittenMembers;
    return Succeed();
  }
  if (!MoveIntoPlace(volumes)) {
    const DWORD error = GetError();
    m_bStaged = FALSE;
    ForgetTakenVolumes();
    m_vDoomed.clear();
    ReleaseBeginLock();
    return Fail(error);
  }
  m_bStaged = FALSE;
  ForgetTakenVolumes();
  RemoveReplacedFiles(volumes);
  ReleaseBeginLock();
  return Succeed();
}

BOOL CQVStorage::AbandonArchive() {
  qv::log::LastErrorKeeper keep;
  DropQueue();
  m_pSealer.reset();
  CloseVolume();
  if (m_bStaged) {
    RemoveStagedVolumes();
    m_bStaged = FALSE;
  }
  m_vDoomed.clear();
  ReleaseBeginLock();
  // The error of what failed before is kept: it tells why.
  return TRUE;
}
