// What qvbackup answers when the library cannot open a volume file of an
// archive it reads: with a terminal on standard input and standard error,
// it names the volume and asks for the path of the volume file (Enter
// alone tries the same path again, after the user has put the medium
// back; end of input gives up). Without one it gives up at once. Either
// way the file given up on is kept, for the one line that says so.
#ifndef QVBACKUP_TOOLS_VOLUME_PROMPT_H_
#define QVBACKUP_TOOLS_VOLUME_PROMPT_H_

#include <cstdint>
#include <map>

#include "console.h"

namespace qvtool {

class MissingVolumes {
 public:
  explicit MissingVolumes(bool interactive) : interactive_(interactive) {}
  MissingVolumes(const MissingVolumes&) = delete;
  MissingVolumes& operator=(const MissingVolumes&) = delete;

  // The library's progress callback (QVFA_PROGRESSPROC) and the user value
  // to give with it.
  static LONGLONG Callback(DWORD code, ULONGLONG userValue, ULONGLONG volume, LONGLONG pathBuffer);
  ULONGLONG UserValue() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }

  // The drive path of the first volume file given up on; empty while none.
  const WString& givenUp() const { return givenUp_; }

 private:
  LONGLONG Answer(DWORD volume, WCHAR* path);
  bool Ask(DWORD volume, const WString& failed, WString* answer);

  bool interactive_;
  WString givenUp_;
  // The path given for a volume file that was missing, by its own path:
  // the next time the library looks for it, it gets that path at once.
  std::map<WString, WString> given_;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_VOLUME_PROMPT_H_
