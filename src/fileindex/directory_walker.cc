// Filling the index from a folder tree through the ordinary folder listing.
//
// The walk keeps its own stack instead of recursing, and reads each folder's
// listing whole before descending, so neither the call stack nor the number
// of open folder handles grows with the depth of the tree. Folders that are
// reparse points (junctions, symbolic links, mount points) are recorded but
// not entered: that is what keeps a link cycle from looping and a walk on
// one volume.
//
// Two names of one listing are two files, even when they differ only in
// case (a POSIX folder, or a Windows folder that tells case apart): below
// the folder walked, names are matched exactly, so neither hides the other.
// The folder's own path, as the caller typed it, matches as names always
// have.
//
// Each entry is described from the folder listing (ListedFileInformation),
// which tells what opening the item would, without opening it. Once a
// folder's entry is known, its items are added below it directly, so the
// path is not looked up from the top again for each of them.
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "qvbackup/qvfilearray.h"

namespace {

struct FolderItem {
  qv::WString name;
  qv::platform::FileInformation information;
};

struct OpenFolder {
  qv::WString path;  // with its trailing backslash
  std::vector<FolderItem> items;
  std::size_t next = 0;
  DWORD entry = 0;     // the folder's own entry, once an item below it has one
  bool known = false;  // whether `entry` is set (0 is the top level)
};

bool IsDotOrDotDot(const WCHAR* name) {
  return name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0));
}

// Reads the items of `folder` (with its trailing backslash), "." and ".."
// left out. False when the folder cannot be listed; a listing that finds
// nothing at all (an empty drive root has no "." either) is an empty one.
bool ListFolder(const qv::WString& folder, std::vector<FolderItem>* items) {
  qv::platform::DirectoryEnumerator enumerator;
  WIN32_FIND_DATAW data;
  qv::WString pattern = folder + QVT('*');
  if (!enumerator.First(pattern.c_str(), &data)) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
  }
  do {
    if (IsDotOrDotDot(data.cFileName)) continue;
    FolderItem item{qv::WString(data.cFileName), {}};
    // An item that cannot be described any more is gone since the listing
    // was read: it is left out, as opening it would have left it out.
    if (!qv::platform::ListedFileInformation((folder + item.name).c_str(), data, &item.information)) continue;
    items->push_back(std::move(item));
  } while (enumerator.Next(&data));
  return true;
}

ULONGLONG AddressOf(const qv::WString& text) {
  return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(text.c_str()));
}

// Tells the caller of a folder that exists but cannot be listed (code 3):
// what is in it is not in the index, and a backup must say so. The path is
// given without its trailing backslash.
void ReportUnlisted(QVFA_PROGRESSPROC progress, ULONGLONG userValue, const qv::WString& folder, DWORD error) {
  // A folder that is not there (any more) holds nothing to miss.
  if (progress == nullptr || error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) return;
  qv::WString path = folder;
  if (path.size() > 3 && path.back() == u'\\') path.pop_back();
  progress(3, userValue, AddressOf(path), static_cast<LONGLONG>(error));
}

}  // namespace

BOOL CQVFileArray::AddDirectory(LPCWSTR pszPath, DWORD dwFlags, BYTE bUserDataSize,
                                QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (pszPath == nullptr) return TRUE;
  OpenFolder top{qv::WString(pszPath), {}, 0, 0, false};
  if (top.path.empty() || top.path.back() != u'\\') top.path.push_back(u'\\');
  if (!ListFolder(top.path, &top.items)) {
    ReportUnlisted(pfnProgress, ullUserValue, top.path, GetLastError());
    return TRUE;
  }

  const std::size_t exactFrom = top.path.size();
  std::vector<OpenFolder> stack;
  stack.push_back(std::move(top));
  while (!stack.empty()) {
    OpenFolder& folder = stack.back();
    if (folder.next == folder.items.size()) {
      stack.pop_back();
      continue;
    }
    FolderItem item = std::move(folder.items[folder.next++]);
    qv::WString fullPath = folder.path + item.name;
    if (pfnProgress != nullptr &&
        pfnProgress(1, ullUserValue, AddressOf(fullPath), 0) == ERROR_CANCELLED) {
      continue;
    }

    const DWORD attributes = item.information.attributes;
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool isReparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (isFolder && !isReparsePoint) {
      OpenFolder child{fullPath + QVT('\\'), {}, 0, 0, false};
      // A folder that cannot be listed adds nothing, and is reported; one
      // with content gets its entry when its first descendant is added.
      if (!ListFolder(child.path, &child.items)) {
        ReportUnlisted(pfnProgress, ullUserValue, child.path, GetLastError());
        continue;
      }
      if (!child.items.empty()) {
        stack.push_back(std::move(child));
        continue;
      }
    }

    const BYTE dataSize = isFolder ? 0 : bUserDataSize;
    DWORD index;
    if (folder.known) {
      index = AddListedChild(folder.entry, item.name.c_str(), static_cast<DWORD>(item.name.size()),
                             item.information, dwFlags, dataSize);
    } else {
      // The first item below this folder: the folders on its path get their
      // entries now, matched and described as their path gives them.
      index = GetDirectoryEntry(fullPath.c_str(), nullptr, dwFlags, dataSize, nullptr, exactFrom, &item.information);
      if (index != 0) {
        folder.entry = GetEntry(index)->dwParent;
        folder.known = true;
      }
    }
    if (index != 0 && pfnProgress != nullptr) {
      pfnProgress(2, ullUserValue, AddressOf(fullPath), static_cast<LONGLONG>(index));
    }
  }
  return TRUE;
}
