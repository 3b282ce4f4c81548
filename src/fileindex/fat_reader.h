// The FAT12/16/32 reader: walks a volume's folders straight from its raw
// bytes and adds every file and folder to an index, folders before their
// contents, depth first in folder order.
//
// A damaged or crafted volume cannot make it loop or recurse without end:
// every cluster number is checked against the volume, and no folder cluster
// is read twice in one load (which ends looping chains and folders that
// contain an ancestor), so a load reads at most as many clusters as the
// volume has.
#ifndef QVBACKUP_FILEINDEX_FAT_READER_H_
#define QVBACKUP_FILEINDEX_FAT_READER_H_

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fileindex/fat_layout.h"
#include "platform/raw_volume.h"
#include "qvbackup/qvfilearray.h"

namespace qv::fileindex {

// One name of a folder: its raw entries (long-name entries in disk order,
// then the short entry) and what is made of them.
struct FileItem {
  std::vector<fat::RawEntry> raw;
  DWORD expected = 0;      // raw entries the first one announces
  BYTE attributes = 0;     // of the short entry
  bool deleted = false;
  std::string ansiName;    // the short name's bytes
  WString name;            // the name shown: the long one when intact
};

// The work list of one folder.
struct FileList {
  DWORD clusterCount = 0;
  std::vector<DWORD> clusters;
  DWORD itemCount = 0;
  std::vector<FileItem> items;
};

class FatReader {
 public:
  FatReader(CQVFileArray& index, platform::RawVolume& volume, const fat::Geometry& geometry)
      : index_(index), volume_(volume), geometry_(geometry) {}

  // Reads the folder starting at `cluster` (0: the root folder) and adds its
  // contents below the entry `folder`, each sub-folder's whole tree before
  // the next name. A cluster that cannot be read ends that folder.
  BOOL ReadDir(DWORD cluster, DWORD folder);
  // Makes every item's name: the long name when its entries are intact,
  // else the short name.
  void BuildFilesName(FileList& list);
  // Adds the items below `folder`, entering sub-folders.
  void BuildDirectory(FileList& list, DWORD folder);

  // The FAT entry of `cluster` (of the active FAT; FAT32's reserved top
  // four bits cleared); 0 when it cannot be read or lies outside the FAT.
  DWORD ReadNFatEntry(DWORD cluster);
  // Reads `size` bytes at sector `sector`; FALSE unless all were read.
  BOOL ReadLogicalSector(ULONGLONG sector, BYTE* buffer, DWORD size);
  // Read one cluster (`size` bytes at most a cluster) by its FAT number; 0
  // stands for the root folder region of FAT12 and FAT16. FALSE for a
  // number outside the volume or a failed read.
  BOOL ReadCluster12(DWORD cluster, BYTE* buffer, DWORD size);
  BOOL ReadCluster16(DWORD cluster, BYTE* buffer, DWORD size);
  BOOL ReadCluster32(DWORD cluster, BYTE* buffer, DWORD size);
  // End of a chain, and the bad-cluster mark, for this volume's kind.
  BOOL IsEOC(DWORD value) const;
  BOOL IsBad(DWORD value) const;

  // A DOS time and date in `time`'s fields (zeros when they do not exist).
  static void BuildSystemTime(WORD time, WORD date, SYSTEMTIME& result);
  // A short name's bytes in the system's ANSI code page, as UTF-16.
  static void Towstring(const std::string& ansi, WString& wide);

 private:
  BOOL ReadClusterBytes(DWORD cluster, BYTE* buffer, DWORD size);
  bool ReadFolderBytes(DWORD cluster, FileList& list, std::vector<BYTE>* bytes);
  static void GroupEntries(const std::vector<BYTE>& bytes, FileList& list);
  bool FatBytes(std::uint64_t offset, BYTE* out, std::size_t count);
  bool IsDataCluster(DWORD cluster) const;
  void Describe(const FileItem& item, QVFA_FILEINFO* info);
  ULONGLONG UtcTicks(WORD time, WORD date);

  CQVFileArray& index_;
  platform::RawVolume& volume_;
  fat::Geometry geometry_;
  std::unordered_set<DWORD> foldersRead_;  // every folder cluster read so far
  DWORD depth_ = 0;
  std::unordered_map<std::uint32_t, ULONGLONG> hourTicks_;  // date and hour -> UTC ticks of its start
  std::vector<BYTE> fatWindow_;
  std::uint64_t fatWindowStart_ = 0;
};

}  // namespace qv::fileindex

#endif  // QVBACKUP_FILEINDEX_FAT_READER_H_
