// CQVBackupFile: backing up and restoring one file through a callback.
//
// A backup hands the callback, in this order:
//  1. the opening record (QVBF_OPENING_RECORD, 16 bytes);
//  2. the naming record (QVBF_NAMING_RECORD, 48 bytes and the file's name);
//  3. the file's content in chunks of at most QVBF_CHUNK_SIZE bytes, as
//     they are read: a file that grows or shrinks while it is read is saved
//     as what was actually read.
// A restore asks the callback, in the same order, to fill the same records
// and then the content, and recreates the file: content, then size (exactly
// the content restored), last write, last access and (where the platform
// keeps one) creation time, then attributes. On POSIX the read-only
// attribute becomes the owner's missing write permission.
//
// The callback answers 0 to go on and ERROR_CANCELLED (1223) to stop; any
// other answer stops too.
//
// A restore writes the content to a new file of its own beside the target
// and renames it over the target only once size, times and attributes are
// set: whatever fails, no half-written file is left under the target's name
// and an existing target stays as it was.
//
// POSIX: a symbolic link is not a file to back up (its path fails with
// ERROR_CANT_RESOLVE_FILENAME, as the folder walk records links as reparse
// points); Linux keeps no settable creation time, so a restore sets only
// last write and last access there.
#ifndef QVBACKUP_QVBACKUPFILE_H_
#define QVBACKUP_QVBACKUPFILE_H_

#include <cstddef>

#include "qvbackup/export.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

#define QVBF_CHUNK_SIZE 0x100000u         // content is handed over 1 MiB at a time
#define QVBF_NAMING_RECORD_TAG 50         // first field of every naming record
#define QVBF_OPENING_VERSION 1
#define QVBF_KIND_FILE 1

#pragma pack(push, 1)

// What the callback receives: the user value given to BackupFile or
// RestoreFile, and the bytes. Backing up, pData holds dwLength delivered
// bytes; restoring, pData is a buffer of dwLength bytes to fill.
typedef struct _QVBF_INTERNAL_DATA {
  ULONGLONG ullUserValue;
  BYTE* pData;
  DWORD dwLength;
  DWORD dwStage;  // 0 opening record, 1 naming record, 2 content
} QVBF_INTERNAL_DATA, *PQVBF_INTERNAL_DATA;

// The opening record: four 32-bit values (the second one is kept as one
// byte by the backup control).
typedef struct _QVBF_OPENING_RECORD {
  DWORD dwVersion;     // QVBF_OPENING_VERSION
  DWORD dwKind;        // QVBF_KIND_FILE (kept as one byte)
  DWORD dwAttributes;  // the file's attributes when it was opened
  DWORD dwStreams;     // content streams that follow: 1
} QVBF_OPENING_RECORD;

// The naming record: 48 bytes, then the file's name (UTF-16, terminated).
typedef struct _QVBF_NAMING_RECORD {
  DWORD dwTag;              // QVBF_NAMING_RECORD_TAG
  const WCHAR* pszPath;     // the full path of the file (not stored inline)
  DWORD dwAttributes;
  ULONGLONG ullSize;        // the size when the file was opened
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  // followed by WCHAR szName[]: the file's name, terminated
} QVBF_NAMING_RECORD;

#pragma pack(pop)

static_assert(sizeof(QVBF_INTERNAL_DATA) == 24, "callback record");
static_assert(sizeof(QVBF_OPENING_RECORD) == 16, "opening record");
static_assert(sizeof(QVBF_NAMING_RECORD) == 48, "naming record header");
static_assert(offsetof(QVBF_NAMING_RECORD, pszPath) == 4, "path reference at 4");
static_assert(offsetof(QVBF_NAMING_RECORD, dwAttributes) == 12, "attributes at 12");
static_assert(offsetof(QVBF_NAMING_RECORD, ullSize) == 16, "size at 16");
static_assert(offsetof(QVBF_NAMING_RECORD, ftCreationTime) == 24, "times at 24");

typedef DWORD (*QVBF_CALLBACK)(QVBF_INTERNAL_DATA* pData);

class QVBACKUP_API CQVFile {
 public:
  // Binds to `pszPath` as Attach does, when one is given.
  explicit CQVFile(LPCWSTR pszPath = nullptr);
  virtual ~CQVFile();
  CQVFile(const CQVFile&) = delete;
  CQVFile& operator=(const CQVFile&) = delete;

  // Binds the object to the file at `pszPath` (drive path), replacing any
  // earlier binding; nothing is opened yet, and the file need not exist.
  // FALSE with ERROR_INVALID_PARAMETER for a null or empty path (the
  // binding is then unchanged).
  BOOL Attach(LPCWSTR pszPath);
  // Releases the binding. Files are open only during BackupFile and
  // RestoreFile, so none is open here.
  void Detach();
  // The bound path; "" when none is bound. Valid until the next Attach or
  // Detach.
  LPCWSTR GetPath() const;

 protected:
  CQVString m_strPath;
  BOOL m_bAttached;
};

class QVBACKUP_API CQVBackupFile : public CQVFile {
 public:
  explicit CQVBackupFile(LPCWSTR pszPath = nullptr);
  ~CQVBackupFile() override;

  // Reads the bound file (opened read-only, others may read and write it
  // meanwhile) and hands its records and content to `pfnCallback` (see
  // above); `ullUserValue` goes with every call. TRUE, with the last error
  // cleared, when everything was delivered. FALSE with the last error:
  // ERROR_INVALID_PARAMETER for a null callback, ERROR_INVALID_STATE when no
  // file is bound, ERROR_FILENAME_EXCED_RANGE for a name longer than 1023
  // code units (a restore could not take it back), the system's error when
  // the file cannot be opened or read (ERROR_FILE_NOT_FOUND,
  // ERROR_ACCESS_DENIED for a folder...), ERROR_CANCELLED when the callback
  // stopped it.
  BOOL BackupFile(QVBF_CALLBACK pfnCallback, ULONGLONG ullUserValue);

  // Recreates the bound file from what `pfnCallback` hands back: it asks for
  // the opening record (a 16-byte buffer), the naming record (a buffer of
  // 48 + 1024 × 2 bytes; the name ends at its terminator) and then the
  // content, min(QVBF_CHUNK_SIZE, what is left) bytes at a time.
  // `ullFileBytes` is everything the backup delivered, records included: the
  // content is ullFileBytes − 16 − (48 + (name length + 1) × 2) bytes.
  // Missing folders on the way are created (and stay, whatever happens
  // next); the file itself is made in its folder, never through a link at
  // its name (one there is replaced). POSIX: the new file is its owner's
  // only (0600, whatever the umask) until it is complete, then gets the
  // mode of a new file (0666 less the umask), without write permission
  // when read-only. TRUE, with the last error cleared, on success. FALSE
  // with the last error: ERROR_INVALID_PARAMETER for a null callback,
  // ERROR_INVALID_STATE when no file is bound, ERROR_INVALID_NAME when the
  // bound path ends with a separator, ERROR_INVALID_DATA when the
  // records are not this service's (opening record version 1, kind 1, one
  // stream; naming record tag 50, terminated name) or do not fit in
  // `ullFileBytes`, ERROR_CANCELLED when the callback stopped it, or the
  // system's error. A file that fails is removed, never left half-written
  // under its name.
  BOOL RestoreFile(QVBF_CALLBACK pfnCallback, ULONGLONG ullFileBytes, ULONGLONG ullUserValue);

  // After a BackupFile that succeeded: TRUE when the file changed while it
  // was read (the bytes delivered are not the size it had when it was
  // opened, or its size or last write time moved meanwhile). What was
  // delivered is what was read; it may not be the file as it was at any
  // one moment.
  BOOL ChangedWhileRead() const { return m_bChangedWhileRead; }

 private:
  BOOL m_bChangedWhileRead = FALSE;
};

#endif  // QVBACKUP_QVBACKUPFILE_H_
