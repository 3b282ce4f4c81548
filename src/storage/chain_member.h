// What the storage learns of one member of a chain from its files.
#ifndef QVBACKUP_STORAGE_CHAIN_MEMBER_H_
#define QVBACKUP_STORAGE_CHAIN_MEMBER_H_

#include <array>
#include <vector>

#include "qvbackup/qvstorage.h"

using ArchiveIdentifier = std::array<BYTE, 16>;

struct CQVStorage::ChainMember {
  DWORD increment = 0;
  DWORD state = QVS_MEMBER_MISSING;
  CQVPathString path;  // its first volume file (".qvnew" while it is moved into place)
  bool hasIdentifier = false;
  ArchiveIdentifier identifier = {};
  std::vector<ArchiveIdentifier> replaced;  // a base's: the archives it replaced
};

#endif  // QVBACKUP_STORAGE_CHAIN_MEMBER_H_
