// Everything a loaded index offers, walked the way the engine and the
// restore walk it: flat and recursive searches with the filter fields the
// input chooses, every path and record, deletion, compaction, and the
// image handed out afterwards, which must load back.
#ifndef QVBACKUP_FUZZ_INDEX_EXERCISE_H_
#define QVBACKUP_FUZZ_INDEX_EXERCISE_H_

#include <cstdint>
#include <vector>

#include "fuzz_helpers.h"
#include "qvbackup/qvfilearray.h"

namespace qvfuzz {

// Entries visited per search: enough for every seed, bounded for speed.
inline constexpr int kMaxVisits = 4096;

// Visits every entry the search `filter` finds (null: a flat search of all
// entries) and reads what there is to read of each; returns the indexes.
inline std::vector<DWORD> VisitAll(CQVFileArray& index, const QV_FINDFILTER* filter) {
  std::vector<DWORD> found;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, filter);
  if (search == nullptr) return found;
  do {
    found.push_back(entry);
    index.GetPathName(entry);
    index.GetFileName(entry);
    index.GetPath(entry);
    _tagQVFA_FILEINFO info;
    index.GetFileInfo(entry, &info);
    WIN32_FIND_DATAW findData;
    index.GetFileInfo(entry, &findData);
    index.HasChildren(entry, TRUE);
    index.IsClone(entry);
    DWORD userSize = 0;
    const BYTE* user = index.GetUserData(entry, &userSize);
    // Touch every byte handed out, so a read past the image is caught.
    volatile BYTE sink = 0;
    for (DWORD i = 0; user != nullptr && i < userSize; ++i) sink = sink ^ user[i];
  } while (static_cast<int>(found.size()) < kMaxVisits && index.FindNextFileW(search, entry));
  index.FindClose(search);
  return found;
}

// A search below `base`, with masks and the flags the input picked.
inline void SearchWithMasks(CQVFileArray& index, const WCHAR* base, std::uint8_t choice) {
  QV_FINDFILTER filter = {};
  filter.dwFlags = choice & (QVFF_INCLUDEDELETED | QVFF_RECURSE | QVFF_NOMETAFILES | QVFF_NOSYSVOLINFO);
  filter.pszBasePath = base;
  filter.pszFileMask = (choice & 0x01) ? QVT("*.*") : QVT("*");
  filter.pszExtensionMask = (choice & 0x20) ? QVT("t?t") : nullptr;
  const ULONGLONG minSize = 1;
  if (choice & 0x40) filter.pullMinSize = &minSize;
  VisitAll(index, &filter);
}

// Runs the walks, deletes what the input says, compacts, and checks that
// the image the index hands out afterwards is accepted again.
inline void ExerciseIndex(CQVFileArray& index, std::uint8_t choice) {
  std::vector<DWORD> all = VisitAll(index, nullptr);
  SearchWithMasks(index, QVT(""), static_cast<std::uint8_t>(choice | QVFF_RECURSE));
  SearchWithMasks(index, QVT("C:"), choice);
  index.GetItemCount(TRUE);
  index.GetTotalSize();
  if (!all.empty()) {
    DWORD victim = all[choice % all.size()];
    index.DeleteItem(victim, choice % 4);
  }
  index.Compact((choice & 0x80) != 0);
  VisitAll(index, nullptr);

  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  std::vector<BYTE> copy(image, image + size);
  CQVFileArray again;
  Require(again.SetRawData(copy.data(), static_cast<DWORD>(copy.size())) != FALSE,
          "an image the index handed out is refused");
  Require(again.GetItemCount(TRUE) == index.GetItemCount(TRUE), "a reloaded image counts other entries");
}

}  // namespace qvfuzz

#endif  // QVBACKUP_FUZZ_INDEX_EXERCISE_H_
