#include "storage/lock_holder.h"

#include "platform/file_lock.h"
#include "platform/system_info.h"
#include "qvbackup/qvstring.h"

namespace qv::storage {

WString LockHolderText() {
  WString text = platform::ThisProcessDescription();
  SYSTEMTIME now = {};
  if (platform::UtcTimeOf(platform::CurrentCalendarTime(), &now)) {
    CQVString since;
    since.Format(QVT(", since %04d-%02d-%02d %02d:%02d:%02d UTC"), now.wYear, now.wMonth, now.wDay, now.wHour,
                 now.wMinute, now.wSecond);
    text += static_cast<const WCHAR*>(since);
  }
  return text;
}

}  // namespace qv::storage
