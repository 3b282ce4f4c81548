#include "archive_open.h"

#include <utility>

#include "password.h"
#include "report.h"

namespace qvtool {

namespace {

constexpr std::size_t kMaxExtension = 5;

// Any volume size but "no limit" makes the library name the first volume
// NAME.1.EXT; the header's own size replaces it once read. This one keeps
// every offset inside volume 0 until then (a self-extracting program's
// header lies past its program).
constexpr ULONGLONG kSplitNamingHint = QVS_NO_VOLUME_LIMIT - 1;

bool IsSeparator(WCHAR c) { return c == '/' || c == '\\'; }

// Lets go of an open archive without rewriting its header: commands that
// only read an archive leave its files as they were.
void Release(CQVStorage& storage) { storage = CQVStorage(); }

}  // namespace

bool LocateArchive(const WString& typed, ArchiveLocation* location, WString* why) {
  WString folder;
  WString fileName;
  const bool remote = IsRemoteForm(typed);
  if (remote) {
    if (!SplitRemoteFile(typed, &folder, &fileName)) fileName.clear();
  } else {
    std::size_t slash = typed.size();
    while (slash > 0 && !IsSeparator(typed[slash - 1])) --slash;
    fileName = typed.substr(slash);
    folder = slash == 0 ? Widen(".") : typed.substr(0, slash);
    if (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
  }
  const std::size_t dot = fileName.rfind('.');
  if (fileName.empty() || dot == WString::npos || dot == 0 || dot + 1 == fileName.size() ||
      fileName.size() - dot - 1 > kMaxExtension) {
    *why = Widen("not an archive's first volume file (NAME.QVA, NAME.1.QVA or NAME.exe)");
    return false;
  }
  location->typed = typed;
  if (!remote) {
    location->folder = DrivePathOf(folder);
    if (location->folder.empty()) {
      *why = Widen("no drive holds ") + folder;
      return false;
    }
  }
  location->extension = fileName.substr(dot + 1);
  location->name = fileName.substr(0, dot);
  const WString volumeOne = Widen(".1");
  const std::size_t stem = location->name.size();
  location->split = stem > volumeOne.size() && location->name.compare(stem - 2, 2, volumeOne) == 0;
  if (location->split) location->name.resize(stem - 2);
  return true;
}

ArchiveOpener::ArchiveOpener(ArchiveLocation location, const ParsedOptions& options)
    : location_(std::move(location)),
      options_(options),
      missingVolumes_(StandardInputIsTerminal() && StandardErrorIsTerminal()) {}

bool ArchiveOpener::Failed(DWORD error, const WString& reason) {
  error_ = error;
  reason_ = reason;
  return false;
}

bool ArchiveOpener::TryOpen(DWORD increment, bool split, CQVStorage& storage) {
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = location_.folder.c_str();
  info.pszName = location_.name.c_str();
  info.pszExtension = location_.extension.c_str();
  info.pszPassword = password_.empty() ? nullptr : password_.c_str();
  info.dwEncryptionKeySize = 256;  // the header's own key size replaces it
  info.dwCompression = 1;
  info.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  info.ullVolumeSize = split ? kSplitNamingHint : QVS_NO_VOLUME_LIMIT;
  info.dwIncrementToOpen = increment;
  const bool opened = location_.remote != nullptr
                          ? storage.OpenArchive(&info, &RemoteReading::Callback, location_.remote->UserValue())
                          : storage.OpenArchive(&info, &MissingVolumes::Callback, missingVolumes_.UserValue());
  if (opened) return true;
  return Failed(storage.GetError(), ArchiveErrorText(storage.GetError()));
}

bool ArchiveOpener::ReadPasswordOnce() {
  if (passwordRead_) return !password_.empty();
  passwordRead_ = true;
  WString why;
  const WString prompt = Widen("Password for ") + location_.typed + Widen(": ");
  switch (ReadPassword(options_, prompt, &password_, &why)) {
    case PasswordSource::kGiven:
      return true;
    case PasswordSource::kFailed:
      password_.clear();
      return Failed(ERROR_INVALID_PASSWORD, why);
    case PasswordSource::kNone:
      break;
  }
  return Failed(ERROR_INVALID_PASSWORD, ArchiveErrorText(ERROR_INVALID_PASSWORD));
}

bool ArchiveOpener::Open(DWORD increment, CQVStorage& storage) {
  bool opened = TryOpen(increment, location_.split, storage);
  if (!opened && error_ == ERROR_WRONG_PASSWORD) {
    if (password_.empty()) {
      if (!ReadPasswordOnce()) return false;
      opened = TryOpen(increment, location_.split, storage);
    } else {
      // A member without a password in a chain whose others have one.
      const WString kept = std::exchange(password_, WString());
      opened = TryOpen(increment, location_.split, storage);
      password_ = kept;
      if (!opened && error_ == ERROR_WRONG_PASSWORD) opened = TryOpen(increment, location_.split, storage);
    }
  }
  if (!opened) return false;
  const bool headerSplit = storage.GetVolumeSize() != QVS_NO_VOLUME_LIMIT;
  if (headerSplit != location_.split) {
    // NAME.1.QVA alone is an archive whose name ends in ".1"; a split
    // archive's first volume always carries its number.
    Release(storage);
    if (!location_.split) return Failed(ERROR_INVALID_NAME, Widen("a volume of a split archive, not its first one"));
    location_.name += Widen(".1");
    location_.split = false;
    if (!TryOpen(increment, false, storage)) return false;
  }
  const WORD member = storage.GetCurrentIncrement();
  if (increment == 0 && member != 0) {
    Release(storage);
    return Failed(ERROR_INVALID_NAME, Widen("increment ") + Number(member) +
                                          Widen(" of a chain: name the chain's base archive (and --increment ") +
                                          Number(member) + Widen(")"));
  }
  if (storage.IsCheckValueDamaged()) {
    const WString said = (increment == 0 ? Widen("the base archive") : Widen("increment ") + Number(increment)) +
                         Widen(": its header is damaged (its password check value is wrong, but its data "
                               "opens): read anyway");
    FailBecause(location_.typed, said, ERROR_INVALID_DATA);
    damagedHeaders_.push_back(said);
  }
  error_ = 0;
  reason_.clear();
  return true;
}

WString ArchiveOpener::missingVolume() const {
  const WString& path = missingVolumes_.givenUp();
  if (path.empty()) return path;
  const std::size_t cut = path.rfind('\\');
  const WString name = cut == WString::npos ? path : path.substr(cut + 1);
  std::size_t slash = location_.typed.size();
  while (slash > 0 && !IsSeparator(location_.typed[slash - 1])) --slash;
  return location_.typed.substr(0, slash) + name;
}

ChainVerdict ArchiveOpener::JudgeMembers() { return JudgeChain(Members()); }

QVS_ARCHIVE_INFO ArchiveOpener::Description() const {
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = location_.folder.c_str();
  info.pszName = location_.name.c_str();
  info.pszExtension = location_.extension.c_str();
  info.dwCompression = 1;
  info.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  info.ullVolumeSize = location_.split ? kSplitNamingHint : QVS_NO_VOLUME_LIMIT;
  return info;
}

DWORD ArchiveOpener::MembersToRead(const ChainVerdict& verdict) { return verdict.usable == 0 ? 1 : verdict.usable; }

int FailLocking(const char* command, const WString& name, CQVStorage& storage) {
  const DWORD error = storage.GetError();
  if (error != ERROR_BUSY) return Fail(Widen(command) + Widen(": cannot lock the archive ") + name, error);
  const CQVString holder = storage.GetLockHolder();
  FailBecause(name, Widen("the archive is in use by another run (") +
                        (holder.IsEmpty() ? Widen("its holder is starting") : WString(holder.GetString())) + Widen(")"),
              error);
  return kExitBusy;
}

WString ArchiveErrorText(DWORD error) {
  switch (error) {
    case ERROR_BAD_FORMAT:
      return Widen("not an archive, or its header is damaged");
    case ERROR_WRONG_PASSWORD:
      return Widen("wrong password");
    case ERROR_INVALID_PASSWORD:
      return Widen("the archive is encrypted: give its password ") + PasswordHint();
    case ERROR_NO_MORE_ITEMS:
      return Widen("the archive ends too early");
    case ERROR_STOPPED_ON_SYMLINK:  // met only on the way to a file a restore writes
      return Widen("a folder on its way in the target is a symbolic link");
    default:
      return ErrorText(error);
  }
}

}  // namespace qvtool
