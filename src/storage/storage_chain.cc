// What a chain's members are, read from their files without the password:
// which one ended, which one a run left unfinished, which ones lie outside
// the chain; and the member number a new increment takes.
#include <algorithm>
#include <cstring>

#include "log/qv_log.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/chain_member.h"
#include "storage/member_files.h"
#include "storage/volume_names.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;
using qv::platform::OpenMode;
using qv::platform::Sharing;

namespace {

qv::WStringView View(const CQVString& text) { return qv::WStringView(text, text.GetLength()); }

const WCHAR* StateWords(DWORD state) {
  switch (state) {
    case QVS_MEMBER_INCOMPLETE: return QVT("unfinished (its run never ended)");
    case QVS_MEMBER_DAMAGED: return QVT("damaged");
    case QVS_MEMBER_MISSING: return QVT("missing");
    case QVS_MEMBER_FOREIGN: return QVT("another archive's");
    case QVS_MEMBER_REPLACED: return QVT("left over from a replaced archive");
  }
  return QVT("complete");
}

}  // namespace

// Sets this object up to read the archive `pInfo` describes, as OpenArchive
// does, without its password and without opening anything.
BOOL CQVStorage::PrepareForReading(QVS_ARCHIVE_INFO* pInfo) {
  CloseVolume();
  DropQueue();
  std::memset(m_pHeader, 0, QVS_HEADER_SIZE);
  m_bSFXReadMode = FALSE;
  m_bReadOnly = TRUE;
  m_bReading = TRUE;
  m_bStaged = FALSE;
  m_bReadMoving = FALSE;
  QVS_ARCHIVE_INFO info = *pInfo;
  info.pszPassword = nullptr;
  if (!UpdateInternalInfo(&info)) return Fail(ERROR_INVALID_PARAMETER);
  if (IsExe(m_strExtension)) {
    PutDword(m_pHeader, header::kFlags, GetDword(m_pHeader, header::kFlags) | QVS_FLAG_SELFEXTRACTING);
  }
  return TRUE;
}

// Reads member `dwIncrement` of the archive this object is prepared for.
// `pBase`: the base's findings, against which an increment is checked.
void CQVStorage::ExamineMember(DWORD dwIncrement, const ChainMember* pBase, ChainMember* pMember) {
  pMember->increment = dwIncrement;
  PutDword(m_pHeader, header::kIncrement, dwIncrement);
  const CQVPathString finalPath = GetArchiveVolumePath(0, dwIncrement);
  const qv::WString moving = StagedPath(View(finalPath), VolumeStage::kMoving);
  m_bReadMoving =
      TakesMovingVolumes(moving, dwIncrement, qv::WString(View(GetArchiveVolumePath(0, 0))), IsExe(m_strExtension))
          ? TRUE
          : FALSE;
  pMember->path = m_bReadMoving ? CQVPathString(moving.c_str()) : finalPath;
  if (!qv::platform::FileExists(pMember->path)) {
    pMember->state = QVS_MEMBER_MISSING;
    return;
  }
  pMember->state = QVS_MEMBER_DAMAGED;
  auto file = qv::platform::OpenFile(pMember->path, OpenMode::kReadExisting, Sharing::kReadWrite);
  if (!file) return;
  m_pVolume = file.release();
  m_dwCurrentVolume = 0;
  m_dwCurrentVolumeIncrement = dwIncrement;
  if (!HeaderRead()) {
    CloseVolume();
    return;
  }
  pMember->hasIdentifier = true;
  std::memcpy(pMember->identifier.data(), m_pHeader + header::kIdentifier, header::kIdentifierSize);
  if (dwIncrement == 0) {
    const DWORD count = std::min<DWORD>(m_pHeader[header::kReplacedCount], header::kMostReplaced);
    for (DWORD i = 0; i < count; ++i) {
      ArchiveIdentifier replaced;
      std::memcpy(replaced.data(), m_pHeader + header::kReplacedIdentifiers + i * header::kIdentifierSize,
                  header::kIdentifierSize);
      pMember->replaced.push_back(replaced);
    }
  } else if (pBase != nullptr && pBase->hasIdentifier && pMember->identifier != pBase->identifier) {
    const bool left = std::find(pBase->replaced.begin(), pBase->replaced.end(), pMember->identifier) !=
                      pBase->replaced.end();
    pMember->state = left ? QVS_MEMBER_REPLACED : QVS_MEMBER_FOREIGN;
    CloseVolume();
    return;
  }
  if (dwIncrement != 0 && GetDword(m_pHeader, header::kIncrement) != dwIncrement) {
    pMember->state = QVS_MEMBER_FOREIGN;  // a copy of another member under this number
    CloseVolume();
    return;
  }
  // The header is finished only when the run ends: a run that died left
  // the one written when it began, which points at no closing record.
  const ULONGLONG closingOffset = GetQword(m_pHeader, header::kUserData);
  if (closingOffset == 0) {
    pMember->state = QVS_MEMBER_INCOMPLETE;
    CloseVolume();
    return;
  }
  const ULONGLONG firstBlock = GetHeaderOffset() + QVS_HEADER_SIZE;
  BYTE* data = nullptr;
  DWORD length = 0;
  if (closingOffset >= firstBlock && GetBlock(closingOffset, &data, &length)) {
    const bool sound = length == ::qvlayout::closing::kSize && std::memcmp(data, header::kMagicBytes, 4) == 0 &&
                       GetQword(data, 4) >= firstBlock && GetQword(data, 4) < closingOffset;
    if (sound) pMember->state = QVS_MEMBER_COMPLETE;
    DeleteFoundBlockData(data, length);
  }
  CloseVolume();
}

BOOL CQVStorage::ExamineChain(const QVS_ARCHIVE_INFO& info, std::vector<ChainMember>* pMembers) {
  pMembers->clear();
  QVS_ARCHIVE_INFO description = info;
  CQVStorage probe;
  if (!probe.PrepareForReading(&description)) return Fail(ERROR_INVALID_PARAMETER);
  // The highest member number with a first volume on disk.
  DWORD highest = 0;
  bool any = false;
  for (const ArchiveFile& file : ListArchiveFiles(View(probe.m_strFolder), View(probe.m_strName),
                                                  View(probe.m_strIncrementTag), View(probe.m_strExtension))) {
    if (file.name.stage == VolumeStage::kWriting || file.name.increment > kMostIncrement) continue;
    const CQVPathString first = probe.GetArchiveVolumePath(0, file.name.increment);
    const qv::WString firstName(View(first.FindFileName()));
    qv::WString unstaged = file.fileName;
    if (file.name.stage == VolumeStage::kMoving) unstaged.resize(unstaged.size() - qv::WStringView(kMovingSuffix).size());
    if (!SameFileName(unstaged, firstName)) continue;
    any = true;
    highest = std::max(highest, file.name.increment);
  }
  if (!any) return Succeed();
  pMembers->resize(highest + 1);
  for (DWORD increment = 0; increment <= highest; ++increment) {
    if (!probe.PrepareForReading(&description)) return Fail(ERROR_INVALID_PARAMETER);
    probe.ExamineMember(increment, increment == 0 ? nullptr : &(*pMembers)[0], &(*pMembers)[increment]);
  }
  return Succeed();
}

DWORD CQVStorage::InspectChain(QVS_ARCHIVE_INFO* pInfo, QVS_MEMBER_STATE* pStates, DWORD dwCapacity) {
  if (pInfo == nullptr || pInfo->dwSize != sizeof(QVS_ARCHIVE_INFO) || (pStates == nullptr && dwCapacity != 0)) {
    Fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<ChainMember> members;
  if (!ExamineChain(*pInfo, &members)) return 0;
  for (DWORD i = 0; i < members.size() && i < dwCapacity; ++i) {
    pStates[i].dwIncrement = members[i].increment;
    pStates[i].dwState = members[i].state;
    const DWORD length = std::min<DWORD>(members[i].path.GetLength(), QVS_VOLUME_PATH_CHARS - 1);
    std::memcpy(pStates[i].szPath, static_cast<const WCHAR*>(members[i].path), length * sizeof(WCHAR));
    pStates[i].szPath[length] = 0;
  }
  Succeed();
  return static_cast<DWORD>(members.size());
}

// The member a new increment of the described chain becomes: the next one
// after the chain's last member, or the last one itself when its run never
// ended. A new base (0) when there is no finished base. A chain broken
// before its end (a missing, damaged or foreign member, an unfinished one
// that others follow) takes no increment: ERROR_INVALID_DATA.
BOOL CQVStorage::ChooseIncrement(QVS_ARCHIVE_INFO* pInfo, DWORD* pdwIncrement) {
  std::vector<ChainMember> members;
  if (!ExamineChain(*pInfo, &members)) return FALSE;
  *pdwIncrement = 0;
  if (members.empty() || members[0].state == QVS_MEMBER_MISSING || members[0].state == QVS_MEMBER_INCOMPLETE) {
    return TRUE;
  }
  const auto refuse = [](const ChainMember& member) {
    theLog.LogError(QVT("Member %d of the chain (%s) is %s: no increment can follow it"),
                    static_cast<int>(member.increment), member.path.GetString(), StateWords(member.state));
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  };
  if (members[0].state != QVS_MEMBER_COMPLETE) return refuse(members[0]);
  DWORD next = 1;
  while (next < members.size() && members[next].state == QVS_MEMBER_COMPLETE) ++next;
  for (DWORD later = next; later < members.size(); ++later) {
    const DWORD state = members[later].state;
    if (state == QVS_MEMBER_MISSING || state == QVS_MEMBER_REPLACED) continue;
    if (later == next && state == QVS_MEMBER_INCOMPLETE) continue;  // replaced by the new one
    return refuse(members[later == next ? later : next]);
  }
  if (next > kMostIncrement) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  *pdwIncrement = next;
  return TRUE;
}
