// A chain rewritten whole: a new base and its increments written one after
// the other under their temporary names, then put in place together.
//
// Each member is written and synced as BeginArchive and CloseArchive write
// any, but stays named name + ".qvtmp". The commit renames every volume of
// the increments to name + ".qvnew", syncs the folder, and then the base's
// volumes (its first one last): that rename is the commit. An increment's
// ".qvnew" files are taken for its volumes only when its identifier is the
// one of the base in place or committed, so that before the commit the old
// chain reads as it was, and after it the new one does; the move to the
// final names is then the one a stopped run's next run finishes.
#include <cstring>

#include "log/qv_log.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "storage/archive_layout.h"
#include "storage/chain_member.h"
#include "storage/member_files.h"
#include "storage/volume_names.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

BOOL CQVStorage::BeginChainRewrite() {
  if (IsOpen() || m_bStaged || m_bRewriting) return Fail(ERROR_INVALID_STATE);
  if (!m_pLock) return Fail(ERROR_INVALID_STATE);
  m_bRewriting = TRUE;
  m_dwRewrittenMembers = 0;
  std::memset(m_abRewriteIdentifier, 0, sizeof(m_abRewriteIdentifier));
  return Succeed();
}

// BeginArchive of the next member of the rewritten chain (the lock is
// held, what stopped runs left was cleared when the rewrite began).
BOOL CQVStorage::BeginRewrittenMember(QVS_ARCHIVE_INFO* pInfo) {
  if (pInfo->dwIncrementToOpen != m_dwRewrittenMembers || pInfo->dwIncrementToOpen > kMostIncrement ||
      !(pInfo->pszSFXStub == nullptr || pInfo->pszSFXStub[0] == 0) || IsExe(m_strExtension)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const auto fail = [this](DWORD error) {
    AbandonArchive();
    return Fail(error);
  };
  PutDword(m_pHeader, header::kIncrement, pInfo->dwIncrementToOpen);
  DWORD flags = GetDword(m_pHeader, header::kFlags) & ~static_cast<DWORD>(QVS_FLAG_INCREMENTAL);
  if (pInfo->dwIncrementToOpen != 0) flags |= QVS_FLAG_INCREMENTAL;
  PutDword(m_pHeader, header::kFlags, flags);
  if (pInfo->dwIncrementToOpen == 0) {
    // The replaced chain is listed in the new base; its files go only
    // once the new chain is in place.
    if (!PlanReplacement()) return fail(GetError());
    m_vDoomed.clear();
  }
  m_bStaged = TRUE;
  if (!OpenFirstVolumeForCreate(FALSE)) return fail(GetError());
  if (!HeaderCreate() || !HeaderWrite()) return fail(GetError());
  if (pInfo->dwIncrementToOpen == 0) {
    std::memcpy(m_abRewriteIdentifier, m_pHeader + header::kIdentifier, header::kIdentifierSize);
  }
  return Succeed();
}

// The volumes of rewritten member `increment` under its temporary names,
// or its ".qvnew" ones.
static std::vector<qv::WString> StagedVolumes(CQVStorage& storage, bool split, DWORD increment, VolumeStage stage) {
  std::vector<qv::WString> volumes;
  for (DWORD volume = 0;; ++volume) {
    const CQVPathString path = storage.GetArchiveVolumePath(volume, increment);
    const qv::WString staged = StagedPath(qv::WStringView(path, path.GetLength()), stage);
    if (!qv::platform::FileExists(staged.c_str())) break;
    volumes.push_back(staged);
    if (!split) break;
  }
  return volumes;
}

void CQVStorage::RemoveRewrittenMembers() {
  for (DWORD increment = 0; increment <= m_dwRewrittenMembers && increment <= kMostIncrement; ++increment) {
    for (VolumeStage stage : {VolumeStage::kWriting, VolumeStage::kMoving}) {
      for (const qv::WString& path : StagedVolumes(*this, HasVolumeLimit(), increment, stage)) {
        qv::platform::MakeWritable(path.c_str());
        qv::platform::RemoveFile(path.c_str());
      }
    }
  }
}

BOOL CQVStorage::CommitChainRewrite() {
  if (!m_bRewriting || m_bStaged || IsOpen() || m_dwRewrittenMembers == 0) return Fail(ERROR_INVALID_STATE);
  const DWORD members = m_dwRewrittenMembers;
  const auto giveUp = [this](DWORD error) {
    RemoveRewrittenMembers();
    m_bRewriting = FALSE;
    return Fail(error);
  };
  // Increments first, the base last; the first volume of each last.
  for (DWORD step = 1; step <= members; ++step) {
    const DWORD increment = step == members ? 0 : step;
    if (increment == 0 && !qv::platform::SyncFolder(m_strFolder)) return giveUp(GetLastError());
    const std::vector<qv::WString> volumes = StagedVolumes(*this, HasVolumeLimit(), increment, VolumeStage::kWriting);
    if (volumes.empty()) return giveUp(ERROR_FILE_NOT_FOUND);
    for (std::size_t i = volumes.size(); i-- > 0;) {
      const qv::WString finalPath = volumes[i].substr(0, volumes[i].size() - qv::WStringView(kWritingSuffix).size());
      const qv::WString moving = StagedPath(finalPath, VolumeStage::kMoving);
      // Until the base's first volume is renamed nothing is committed.
      if (!qv::platform::RenameFile(volumes[i].c_str(), moving.c_str())) return giveUp(GetLastError());
    }
  }
  theLog.LogDetail(QVT("The rewritten chain of %s is committed (%d members)"), m_strName.GetString(),
                   static_cast<int>(members));
  m_bRewriting = FALSE;
  m_vRemoved.clear();
  // Committed: readers take the new chain from here on. The moves to the
  // final names and the removal of the old chain are what a next run
  // finishes when they cannot be made now (a file another program holds
  // open on Windows): they do not fail the commit.
  if (!qv::platform::SyncFolder(m_strFolder) || !RecoverArchiveFiles()) {
    theLog.LogError(QVT("The rewritten chain of %s is in place but not yet under its final names (error %d): "
                        "the next run finishes it"),
                    m_strName.GetString(), static_cast<int>(GetLastError()));
  }
  return Succeed();
}

BOOL CQVStorage::AbandonChainRewrite() {
  if (!m_bRewriting) return Succeed();
  if (m_bStaged) AbandonArchive();
  RemoveRewrittenMembers();
  m_bRewriting = FALSE;
  m_dwRewrittenMembers = 0;
  return Succeed();
}
