// Restoring one file from its record block alone, for an archive whose
// index is lost: the record gives the path, the caller the content's length.
#include "control/control_records.h"
#include "log/qv_log.h"
#include "platform/text.h"
#include "qvbackup/qvbackupcontrol.h"
#include "storage/archive_layout.h"

using namespace qv::control;
using qv::storage::GetDword;
using qv::storage::GetWord;

BOOL CQVBackupControl::RestoreRecord(ULONGLONG ullRecordOffset, ULONGLONG ullContentBytes) {
  theLog.Enter(QVT("CQVBackupControl::RestoreRecord()"));
  BYTE* block = nullptr;
  DWORD length = 0;
  if (!m_qvStorage.GetBlock(ullRecordOffset, &block, &length)) {
    const DWORD error = m_qvStorage.GetError();
    theLog.LogDetail(QVT("No block can be read where the record should be"));
    theLog.Exit();
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA);
    return FALSE;
  }
  const bool wellFormed = IsWellFormedRecord(block, length);
  const DWORD nameLength = wellFormed ? GetWord(block, record::kFirstNameLength) : 0;
  const ULONGLONG recordBytes = record::RecordBytes(nameLength);
  qv::WString path;
  if (wellFormed) {
    const DWORD at = GetWord(block, record::kSecondNameOffset);
    for (DWORD i = 0, count = GetWord(block, record::kSecondNameLength); i < count; ++i) {
      path.push_back(static_cast<WCHAR>(GetWord(block, at + 2 * i)));
    }
    m_dwCurrentEntry = GetDword(block, record::kEntry);
  }
  m_qvStorage.DeleteFoundBlockData(block, length);
  if (!wellFormed || ullContentBytes > ~0ULL - recordBytes) {
    theLog.LogDetail(QVT("The block is no file record"));
    theLog.Exit();
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  m_ullRecordOffset = ullRecordOffset;
  m_bFromRecordOnly = true;
  m_ullContentLeft = ullContentBytes;
  const BOOL restored = RestoreBelowRoot(path.c_str(), static_cast<DWORD>(path.size()), recordBytes + ullContentBytes);
  const DWORD error = GetLastError();
  m_bFromRecordOnly = false;
  m_ullContentLeft = 0;
  theLog.Exit();
  SetLastError(error);
  return restored;
}
