#include "control/chain_state.h"

#include <cstring>

#include "control/control_records.h"
#include "control/metadata_state.h"
#include "log/qv_log.h"
#include "storage/archive_layout.h"

namespace qv::control {

namespace {

constexpr char kMagic[4] = {'Q', 'V', 'M', 'S'};
constexpr WORD kVersion = 1;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kItemSize = 8;

}  // namespace

std::vector<BYTE> EncodeChainState(const std::vector<QVBC_KEPT_ENTRY>& kept) {
  std::vector<BYTE> bytes(kHeaderSize + kept.size() * kItemSize);
  std::memcpy(bytes.data(), kMagic, 4);
  qv::storage::PutWord(bytes.data(), 4, kVersion);
  qv::storage::PutDword(bytes.data(), 8, static_cast<DWORD>(kept.size()));
  BYTE* at = bytes.data() + kHeaderSize;
  for (const QVBC_KEPT_ENTRY& item : kept) {
    qv::storage::PutDword(at, 0, item.dwMember);
    qv::storage::PutDword(at, 4, item.dwEntry);
    at += kItemSize;
  }
  return bytes;
}

bool DecodeChainState(const BYTE* data, std::size_t length, std::vector<QVBC_KEPT_ENTRY>* kept) {
  kept->clear();
  if (length < kHeaderSize || std::memcmp(data, kMagic, 4) != 0 || qv::storage::GetWord(data, 4) != kVersion ||
      qv::storage::GetWord(data, 6) != 0) {
    return false;
  }
  const DWORD count = qv::storage::GetDword(data, 8);
  if ((length - kHeaderSize) % kItemSize != 0 || (length - kHeaderSize) / kItemSize != count) return false;
  kept->reserve(count);
  for (const BYTE* at = data + kHeaderSize; at < data + length; at += kItemSize) {
    kept->push_back({qv::storage::GetDword(at, 0), qv::storage::GetDword(at, 4)});
  }
  return true;
}

}  // namespace qv::control

using namespace qv::control;

BOOL CQVBackupControl::SetKeptEntries(const QVBC_KEPT_ENTRY* pEntries, DWORD dwCount) {
  if (pEntries == nullptr && dwCount != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  MetadataState& state = Metadata();
  state.chainState = true;
  state.kept.assign(pEntries, pEntries + dwCount);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVBackupControl::HasChainState() const { return m_pMetadata && m_pMetadata->chainState ? TRUE : FALSE; }

DWORD CQVBackupControl::GetKeptEntries(const QVBC_KEPT_ENTRY** ppEntries) const {
  if (ppEntries != nullptr) *ppEntries = nullptr;
  if (!HasChainState()) return 0;
  if (ppEntries != nullptr) *ppEntries = m_pMetadata->kept.data();
  return static_cast<DWORD>(m_pMetadata->kept.size());
}

DWORD CQVBackupControl::GetChainStateError() const { return m_pMetadata ? m_pMetadata->chainStateError : 0; }

// Before the metadata table (or the index): an increment's record is
// written even when it keeps nothing, since its presence says that what
// the member does not list was gone.
BOOL CQVBackupControl::WriteChainState() {
  if (!m_pMetadata || !m_pMetadata->chainState) return TRUE;
  return WriteLocatedTable(EncodeChainState(m_pMetadata->kept), kBlockKindChainState, kBlockKindChainStateLocator,
                           "QVMS");
}

void CQVBackupControl::LoadChainState(ULONGLONG ullBefore) {
  MetadataState& state = Metadata();
  std::vector<BYTE> bytes;
  ULONGLONG tableOffset = 0;
  DWORD error = 0;
  const int found = ReadLocatedTable(ullBefore, kBlockKindChainStateLocator, "QVMS", &bytes, &tableOffset, &error);
  if (found == 0) return;
  if (found == 1 && DecodeChainState(bytes.data(), bytes.size(), &state.kept)) {
    state.chainState = true;
    return;
  }
  state.kept.clear();
  state.chainStateError = found == 2 ? error : ERROR_INVALID_DATA;
  theLog.LogDetail(QVT("The record of the selection's state failed to load (%d)"),
                   static_cast<int>(state.chainStateError));
}
