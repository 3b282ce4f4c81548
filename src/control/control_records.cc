// The file record: reading one back, and laying one out.
#include "control/control_records.h"

#include "storage/archive_layout.h"

using qv::storage::GetDword;
using qv::storage::GetWord;
using qv::storage::PutDword;
using qv::storage::PutWord;

bool qv::control::IsWellFormedRecord(const BYTE* block, DWORD length) {
  if (block == nullptr || length < record::kSize || GetDword(block, record::kHeaderSize) != record::kSize) {
    return false;
  }
  const DWORD firstEnd = record::kSize + (GetWord(block, record::kFirstNameLength) + 1u) * 2;
  const DWORD secondOffset = GetWord(block, record::kSecondNameOffset);
  const DWORD secondEnd = secondOffset + (GetWord(block, record::kSecondNameLength) + 1u) * 2;
  return secondOffset == firstEnd && secondEnd <= length && GetWord(block, firstEnd - 2) == 0 &&
         GetWord(block, secondEnd - 2) == 0;
}

std::vector<BYTE> qv::control::MakeRecordBlock(const BYTE* opening, qv::WStringView name, qv::WStringView path,
                                                DWORD entry) {
  const std::size_t secondOffset = record::kSize + (name.size() + 1) * 2;
  if (secondOffset > 0xFFFF || path.size() > 0xFFFF) return {};
  std::vector<BYTE> block(secondOffset + (path.size() + 1) * 2, 0);
  std::copy(opening, opening + record::kSize, block.begin());
  PutWord(block.data(), record::kSecondNameOffset, static_cast<WORD>(secondOffset));
  PutWord(block.data(), record::kSecondNameLength, static_cast<WORD>(path.size()));
  PutWord(block.data(), record::kFirstNameLength, static_cast<WORD>(name.size()));
  PutDword(block.data(), record::kHeaderSize, record::kSize);
  PutDword(block.data(), record::kEntry, entry);
  for (std::size_t i = 0; i < name.size(); ++i) PutWord(block.data(), static_cast<DWORD>(record::kSize + 2 * i), name[i]);
  for (std::size_t i = 0; i < path.size(); ++i) PutWord(block.data(), static_cast<DWORD>(secondOffset + 2 * i), path[i]);
  return block;
}
