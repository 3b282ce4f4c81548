// What the storage learns of one member of a chain from its files.
#ifndef QVBACKUP_STORAGE_CHAIN_MEMBER_H_
#define QVBACKUP_STORAGE_CHAIN_MEMBER_H_

#include <array>
#include <vector>

#include "qvbackup/qvstorage.h"

using ArchiveIdentifier = std::array<BYTE, 16>;

namespace qv::storage {

// Increment numbers are 16-bit where the header's readers show them.
constexpr DWORD kMostIncrement = 0xFFFF;

// Whether an archive's extension makes it a self-extracting program.
inline bool IsExe(const CQVString& extension) { return extension.CompareNoCase(QVT("exe")) == 0; }

}  // namespace qv::storage

struct CQVStorage::ChainMember {
  DWORD increment = 0;
  DWORD state = QVS_MEMBER_MISSING;
  CQVPathString path;  // its first volume file (".qvnew" while it is moved into place)
  bool hasIdentifier = false;
  ArchiveIdentifier identifier = {};
  std::vector<ArchiveIdentifier> replaced;  // a base's: the archives it replaced
};

#endif  // QVBACKUP_STORAGE_CHAIN_MEMBER_H_
