// QV_ARCHIVE_PROFILE_BACKUP: a backup profile, the host's description of
// what to save by category instead of by filters. The host fills it and
// passes it by reference; the engine reads only the category switches, the
// age filter, the Windows drive and the partitions to scan. The other
// members are the host's own and travel with the record unread.
#ifndef QVBACKUP_QVPROFILE_H_
#define QVBACKUP_QVPROFILE_H_

#include "qvbackup/export.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

struct QVBACKUP_API QV_ARCHIVE_PROFILE_BACKUP {
  // Strings empty, arrays empty with growth step 0; the numbers, switches
  // and the reference time are left unset, as the host sets them.
  QV_ARCHIVE_PROFILE_BACKUP();

  DWORD dwHostData1;
  BOOL bPictures;             // category 1 checked
  BOOL bMusic;                // 2
  BOOL bVideo;                // 3
  BOOL bOffices;              // 4
  BOOL bMail;                 // 5
  BOOL bFinancial;            // 6
  BOOL bOthers;               // every file that is not excluded
  BOOL bReferenceTimeFilter;  // drop files older than ftReferenceTime
  DWORD dwHostData2;
  FILETIME ftReferenceTime;   // UTC
  CQVString strHostData1;
  CQVString strHostData2;
  CQVString strHostData3;
  CQVStringArray straHostData1;
  CQVStringArray straHostData2;
  CQVStringArray straHostData3;
  CQVStringArray straHostData4;
  DWORD dwHostData3;
  CQVString strHostData4;
  ULONGLONG qwHostData1;
  CQVString strHostData5;
  CQVString strHostData6;
  CQVString strHostData7;
  DWORD dwHostData4;
  CQVString strHostData8;
  CQVString strHostData9;
  CQVString strHostData10;
  CQVString strHostData11;
  CQVString strHostData12;
  CQVString strHostData13;
  CQVString strWindowsDrive;     // "C:\": where "GpExt.xml" is looked for under Windows PE
  CQVString strHostData14;
  CQVString strPartitionsToScan;  // drive letters, one character each ("CD")
  CQVString strHostData15;
  CQVString strHostData16;
  CQVString strHostData17;
};

#endif  // QVBACKUP_QVPROFILE_H_
