// qvbackup backup: folders and files saved into an archive, or into the
// next increment of one.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "archive_members.h"
#include "archive_open.h"
#include "backup_dry_run.h"
#include "backup_increment.h"
#include "backup_options.h"
#include "backup_report.h"
#include "backup_run.h"
#include "backup_selection.h"
#include "backup_remote.h"
#include "backup_volumes.h"
#include "commands.h"
#include "host_paths.h"
#include "password.h"
#include "progress.h"
#include "report.h"
#include "tool_callback.h"

namespace qvtool {

namespace {

const WCHAR kStubName[] = QVT("qvsfx.exe");

// A remote archive's volumes, unless --volume-size says otherwise: a
// transfer cut part-way costs one volume again, restoring one file fetches
// a few of them, and the work folder holds a few at a time, while an
// archive of a few hundred gigabytes is still a few thousand files.
constexpr ULONGLONG kRemoteVolumeSize = 64ull << 20;

// Everything the run needs besides the engine.
struct Plan {
  BackupSettings settings;
  ParsedOptions parsed;
  std::vector<SourcePath> sources;
  ChainOnDisk chain;
  bool addIncrement = false;  // an increment of an existing chain
  ArchiveForm form;
  std::unique_ptr<RemoteReading> remote;  // --to rclone:REMOTE:PATH
  std::unique_ptr<MemberSending> sending;  // its volumes, as they are written (goes first)
};

// The archive's folder as the user named it.
WString ShownFolder(const Plan& plan) {
  return plan.remote != nullptr ? RemoteText(plan.settings.remoteFolder) : plan.settings.targetFolder;
}

// A remote folder: its archive's lock taken (but for a dry run), what
// interrupted runs left put in order, and for an increment the chain's
// first and last volumes fetched; the archive is then written in the work
// folder, as in a local one.
int OpenRemote(Plan* plan) {
  BackupSettings& settings = plan->settings;
  WString program;
  if (!FindRclone(plan->parsed, "backup", &program)) return kExitFailure;
  plan->remote = std::make_unique<RemoteReading>(program, settings.remoteFolder, settings.targetFolder);
  RemoteReading& remote = *plan->remote;
  if (!remote.Prepare()) return kExitFailure;
  if (!settings.dryRun && !remote.Lock(settings.name)) return GetLastError() == ERROR_BUSY ? kExitBusy : kExitFailure;
  if (!remote.Open(settings.name, WString(), settings.incremental)) return kExitFailure;
  settings.targetFolder = remote.nativeFolder();
  settings.targetDrivePath = remote.folder();
  if (!settings.volumeSizeGiven) settings.volumeSize = kRemoteVolumeSize;
  return -1;
}

// The archive's folder, made when missing (as restore makes its target);
// a dry run makes nothing, and a folder it would make holds nothing yet.
int CheckFolder(const WString& typed, const WString& drivePath, bool dryRun) {
  std::error_code ignored;
  if (dryRun) {
    if (!std::filesystem::exists(NativePath(typed), ignored)) return -1;
  } else {
    std::filesystem::create_directories(NativePath(typed), ignored);
  }
  CQVFileArray probe;
  const DWORD entry = probe.Add(drivePath.c_str());
  if (entry == 0) {
    const DWORD error = GetLastError();
    return Fail(Widen("backup: ") + typed, error);
  }
  if (!probe.IsDirectory(entry)) return FailBecause(Widen("backup: ") + typed, Widen("not a folder"));
  return -1;
}

// The self-extracting program: the one named, else the one beside qvbackup.
int FindStub(const CQVBackupEngine& engine, Plan* plan) {
  WString stub = plan->settings.sfxStub;
  if (stub.empty()) stub = WString(engine.m_strEnvironementPath.GetString()) + kStubName;
  CQVFileArray probe;
  const DWORD entry = probe.Add(stub.c_str());
  if (entry == 0) {
    const DWORD error = GetLastError();
    return Fail(Widen("backup: the self-extracting program ") + stub, error);
  }
  if (probe.IsDirectory(entry)) return FailBecause(Widen("backup: ") + stub, Widen("not a program"));
  plan->form.sfxStub = stub;
  return -1;
}

int ReadPasswordFor(Plan* plan, bool ask) {
  WString error;
  const WString prompt = ask ? Widen("Password for ") + plan->settings.name + Widen(": ") : WString();
  switch (ReadPassword(plan->parsed, prompt, &plan->form.password, &error, /*confirm=*/true)) {
    case PasswordSource::kFailed:
      return FailBecause(Widen("backup"), error);
    case PasswordSource::kNone:
      if (plan->settings.keyBitsGiven) {
        return UsageError("backup", Widen("--key-bits needs a password (--password-file or --password-env)"));
      }
      break;
    case PasswordSource::kGiven:
      break;
  }
  return -1;
}

// Reads the command line, the sources, the destination and the chain
// already there. -1 to go on, else the exit status.
int Prepare(const std::vector<WString>& arguments, const CQVBackupEngine& engine, Plan* plan) {
  BackupSettings& settings = plan->settings;
  int status = ReadBackupSettings(arguments, &plan->parsed, &settings);
  if (status < 0) status = ReadSources(settings.sources, &plan->sources);
  if (status < 0 && !settings.remoteFolder.empty()) status = OpenRemote(plan);
  if (status < 0) status = CheckFolder(settings.targetFolder, settings.targetDrivePath, settings.dryRun);
  if (status >= 0) return status;
  ArchiveForm& form = plan->form;
  form.folder = settings.targetDrivePath;
  form.name = settings.name;
  form.keyBits = settings.keyBits;
  form.volumeSize = settings.volumeSize;
  form.blockSize = settings.blockSize;
  form.compress = settings.compress;
  if (plan->remote != nullptr) {
    form.progress = &RemoteReading::Callback;
    form.progressValue = plan->remote->UserValue();
  }
  if (settings.selfExtracting && (status = FindStub(engine, plan)) >= 0) return status;
  return ReadPasswordFor(plan, settings.keyBitsGiven);
}

// A full backup takes the place of the whole chain of its name: only when
// asked in so many words, since an increment was likely meant.
int RefuseToReplace(const Plan& plan) {
  const BackupSettings& settings = plan.settings;
  if (settings.incremental || settings.replace) return -1;
  const std::vector<VolumeFile> volumes = plan.remote != nullptr ? RemoteVolumesOf(plan.remote->files(), settings.name)
                                                                 : ListVolumes(settings.targetFolder, settings.name);
  if (volumes.empty()) return -1;
  // The file named is the chain's first: its base's first volume when there is one.
  const VolumeFile& first = *std::min_element(volumes.begin(), volumes.end(), [](const VolumeFile& a, const VolumeFile& b) {
    return a.increment != b.increment ? a.increment < b.increment : a.volume < b.volume;
  });
  return UsageError("backup", settings.name + Widen(": ") + ShownFolder(plan) +
                                  Widen(" holds an archive of that name already (") + first.fileName +
                                  Widen("); add --incremental to add an increment to it, or --replace to replace "
                                        "it and its increments with a full backup"),
                    ERROR_ALREADY_EXISTS);
}

// Takes the archive's lock for the whole run (reading the chain, writing
// the member): another run writing it makes this one stop at once,
// touching nothing.
int LockArchive(CQVBackupEngine& engine, const Plan& plan) {
  QVS_ARCHIVE_INFO info = plan.form.Describe();
  CQVStorage& storage = engine.m_qvbc.GetStorage();
  if (storage.LockArchive(&info)) {
    // What runs that died left goes first, whether or not this one writes.
    if (!storage.ClearLeftovers(&info)) {
      return Fail(Widen("backup: cannot clear what an interrupted backup left of ") + plan.settings.name,
                  storage.GetError());
    }
    for (DWORD i = 0; i < storage.GetRemovedFileCount(); ++i) {
      DWORD reason = 0;
      const WCHAR* path = storage.GetRemovedFile(i, &reason);
      const WString why = reason == QVS_REMOVED_UNFINISHED ? Widen("left by a backup that did not end")
                                                           : Widen("left over from an archive a backup replaced");
      WriteError(Widen("qvbackup: backup: ") + plan.settings.name + Widen(": removed ") + path + Widen(", ") + why +
                 Widen("\n"));
    }
    return -1;
  }
  return FailLocking("backup", plan.settings.name, storage);
}

// What the chain on disk allows: an increment on the members that ended,
// in the place of a last one whose run never ended; a new base when the
// base never ended; nothing when the chain is broken before its end.
int PlanChain(Plan* plan) {
  const BackupSettings& settings = plan->settings;
  plan->chain = DescribeChain(ListVolumes(settings.targetFolder, settings.name));
  plan->addIncrement = settings.incremental && plan->chain.hasBase;
  if (!plan->addIncrement) return -1;
  const WString what = Widen("backup: ") + settings.name;
  if (IsSelfExtracting(plan->chain.naming)) return FailBecause(what, Widen("a self-extracting archive takes no increments"));
  if (settings.volumeSizeGiven && plan->chain.naming == VolumeNaming::kSingle) {
    return FailBecause(what, Widen("its base is one file: its increments cannot be split into volumes"));
  }
  ArchiveForm naming = plan->form;
  naming.volumeSize = plan->chain.naming == VolumeNaming::kSplit ? QVS_NO_VOLUME_LIMIT - 1 : QVS_NO_VOLUME_LIMIT;
  const std::vector<MemberState> members = InspectMembers(naming.Describe());
  const ChainVerdict verdict = JudgeChain(members);
  const WString advice = Widen("; restore what you need from it, then make a full backup (without --incremental)");
  if (verdict.usable == 0) {
    if (!members.empty() && members[0].state == QVS_MEMBER_INCOMPLETE) {
      WriteError(Widen("qvbackup: ") + what + Widen(": its base ") + members[0].fileName +
                 Widen(" was never finished (its backup was interrupted): a full backup takes its place\n"));
      plan->addIncrement = false;
      return -1;
    }
    return FailBecause(what, Widen("its base cannot be read") + advice);
  }
  if (verdict.damaged != 0xFFFFFFFFu) {
    const MemberState& damaged = members[verdict.damaged];
    return FailBecause(what, damaged.fileName + Widen(" is damaged (qvbackup verify tells how)") + advice);
  }
  if (!verdict.error.empty()) return FailBecause(what, verdict.error + advice);
  for (const WString& note : verdict.notes) {
    WriteError(Widen("qvbackup: ") + what + Widen(": ") + note +
               (verdict.unfinishedLast && &note == &verdict.notes.back() ? Widen("; the new increment takes its place")
                                                                         : WString()) +
               Widen("\n"));
  }
  plan->chain.members = verdict.usable;
  return -1;
}

// The chain's saved versions; the increment takes the chain's volume size
// unless one is given. A chain with a password asks for it on a terminal
// when none was given.
int LoadChain(Plan* plan, SavedVersions* versions) {
  ArchiveForm opening = plan->form;
  // Any limit names the volumes of a split chain, and the header gives the
  // real one; until it is read, the limit must keep the header in volume 1.
  opening.volumeSize = plan->chain.naming == VolumeNaming::kSplit ? QVS_NO_VOLUME_LIMIT - 1 : QVS_NO_VOLUME_LIMIT;
  DWORD failed = 0;
  ULONGLONG volumeSize = QVS_NO_VOLUME_LIMIT;
  bool loaded = versions->Load(opening, plan->chain.members, &failed, &volumeSize);
  DWORD error = GetLastError();
  if (!loaded && error == ERROR_WRONG_PASSWORD && plan->form.password.empty() && StandardInputIsTerminal()) {
    if (int status = ReadPasswordFor(plan, true); status >= 0) return status;
    opening.password = plan->form.password;
    loaded = versions->Load(opening, plan->chain.members, &failed, &volumeSize);
    error = GetLastError();
  }
  if (!loaded) {
    const WString member = failed == 0 ? Widen("its base") : Widen("increment ") + Number(failed);
    if (error == ERROR_WRONG_PASSWORD) {
      FailBecause(Widen("backup: ") + plan->settings.name,
                  Widen("the password is wrong or missing (the increments take the archive's password)"), error);
      return kExitPassword;
    }
    return Fail(Widen("backup: cannot read ") + member + Widen(" of the archive ") + plan->settings.name, error);
  }
  if (!plan->settings.volumeSizeGiven) plan->form.volumeSize = volumeSize;
  return -1;
}

VolumeNaming NamingWritten(const Plan& plan) {
  if (plan.addIncrement) return plan.chain.naming;
  const bool split = plan.form.volumeSize != QVS_NO_VOLUME_LIMIT;
  if (!plan.form.sfxStub.empty()) return split ? VolumeNaming::kSelfExtractingSplit : VolumeNaming::kSelfExtracting;
  return split ? VolumeNaming::kSplit : VolumeNaming::kSingle;
}

// Files the library removed once the new member was in place: those of
// the chain a new base replaced go without a word; the others are told.
void ReportRemoved(const ToolCallback& callback, const WString& name, BackupReport* report) {
  for (const auto& [reason, path] : callback.removed) {
    WString why = Widen("replaced by the new archive");
    if (reason == QVS_REMOVED_UNFINISHED) why = Widen("left by a backup that did not end");
    if (reason == QVS_REMOVED_OUTSIDE) why = Widen("not part of the archive's chain (past a gap, or another archive's)");
    report->removed.push_back({path, why});
    if (reason != QVS_REMOVED_REPLACED) {
      WriteError(Widen("qvbackup: backup: ") + name + Widen(": removed ") + path + Widen(", ") + why + Widen("\n"));
    }
  }
}

int ReportWritten(const Plan& plan, const std::set<CQVString>& listed, const RunResult& result,
                  const ToolCallback& callback, BackupReport* report) {
  report->increment = result.increment;
  ReportRemoved(callback, plan.settings.name, report);
  const bool showProgress = !plan.settings.quiet && StandardErrorIsTerminal();
  // The volumes sent while the member was written must be there before it
  // is read back: the reading fetches those of its index from the remote.
  if (plan.sending != nullptr && !plan.sending->WaitForSent(showProgress)) return FailSending(*plan.sending);
  if (!ReadBackMember(plan.form, result.increment, listed, report)) {
    return Fail(Widen("backup: the archive just written cannot be read back (qvbackup verify tells why)"),
                GetLastError());
  }
  for (const auto& [why, folder] : callback.unread) {
    report->skipped.push_back({folder, Widen("the folder cannot be read, nothing below it is saved: ") + ErrorText(why),
                               true});
  }
  report->changed = callback.changed;
  std::vector<VolumeFile> all = ListVolumes(plan.settings.targetFolder, plan.settings.name);
  if (plan.sending != nullptr) {
    // A volume sent and read back is in the work folder again.
    for (const VolumeFile& sent : plan.sending->taken()) {
      if (std::none_of(all.begin(), all.end(), [&](const VolumeFile& here) { return here.fileName == sent.fileName; })) {
        all.push_back(sent);
      }
    }
    report->archiveBytes = plan.sending->takenBytes();
  }
  const std::vector<VolumeFile> written = MemberVolumes(all, result.increment, NamingWritten(plan));
  for (const VolumeFile& volume : written) {
    if (plan.sending == nullptr || !plan.sending->WasTaken(volume.fileName)) report->archiveBytes += VolumeFileSize(plan.settings.targetFolder, volume.fileName);
  }
  report->volumes = static_cast<DWORD>(written.size());
  if (!written.empty()) report->archive = JoinPath(plan.settings.targetFolder, written.front().fileName);
  if (plan.sending != nullptr) {
    MemberToSend member;
    member.volumes = written;
    member.increment = plan.addIncrement;
    member.showProgress = showProgress;
    if (int status = SendMember(*plan.sending, member); status >= 0) return status;
    report->archive = RemoteFileText(plan.settings.remoteFolder, written.front().fileName);
  }
  PrintReport(*report, plan.settings.name, plan.settings.json);
  if (!report->skipped.empty()) {
    FailInJsonAnswer(Widen("backup: ") + plan.settings.name,
                     Number(report->skipped.size()) +
                         Widen(report->skipped.size() == 1 ? " file or folder could not be saved (see \"skipped\")"
                                                           : " files or folders could not be saved (see \"skipped\")"));
    return kExitFailure;
  }
  return report->changed.empty() ? kExitSuccess : kExitChanged;
}

WString CancelledText(const Plan& plan, const RunResult& result) {
  if (!result.begun) return Widen("interrupted before anything was written");
  if (plan.addIncrement) {
    return Widen("interrupted: the unfinished increment was removed; ") + plan.settings.name + Widen(" is as it was");
  }
  return Widen("interrupted: what was written of the new archive was removed; ") + plan.settings.name +
         Widen(" is as it was");
}

int Conclude(const Plan& plan, CQVBackupEngine& engine, const RunResult& result, const ToolCallback& callback,
             BackupReport* report) {
  const WString name = plan.settings.name;
  switch (result.end) {
    case RunEnd::kWritten:
      return ReportWritten(plan, engine.m_setFileToBackup, result, callback, report);
    case RunEnd::kNothingToSave:
      if (plan.addIncrement) {
        PrintReport(*report, name, plan.settings.json);
        return kExitSuccess;
      }
      return FailBecause(Widen("backup"), Widen("nothing to save: no file of the sources is selected"));
    case RunEnd::kNoSpace:
      return FailBecause(Widen("backup: ") + plan.settings.targetFolder,
                         Widen(plan.remote != nullptr ? "not enough free space in the local work folder for "
                                                      : "not enough free space for ") +
                             Counted(static_cast<ULONGLONG>(engine.m_i64SizeOfBackup), "byte"));
    case RunEnd::kCancelled:
      return FailBecause(Widen("backup"), CancelledText(plan, result));
    case RunEnd::kNotCreated:
      // A volume that could not be sent gave the archive up.
      if (plan.sending != nullptr && plan.sending->upload().error() != 0) return FailSending(*plan.sending);
      return Fail(Widen("backup: cannot create the archive ") + name + Widen(" in ") + ShownFolder(plan),
                  result.error);
    case RunEnd::kFailed:
      if (plan.sending != nullptr && plan.sending->upload().error() != 0) return FailSending(*plan.sending);
      break;
  }
  return Fail(Widen("backup: the archive ") + name + Widen(" could not be finished (") + name +
                  Widen(" is as it was)"),
              result.error);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Everything a run does but write: no lock, no leftovers cleared, no
// archive. An increment lists what the chain does not hold yet.
int DryRun(CQVBackupEngine& engine, Plan* plan) {
  if (int status = PlanChain(plan); status >= 0) return status;
  ToolCallback callback;
  engine.SetpCallBack(&callback);
  WString error;
  if (!BuildFileList(engine, plan->settings, plan->sources, &callback.unread, &error)) {
    return FailBecause(Widen("backup"), error);
  }
  if (plan->addIncrement) {
    SavedVersions versions;
    if (int status = LoadChain(plan, &versions); status >= 0) return status;
    PlanIncrement(engine, versions);
  }
  DryRunList list;
  list.paths = &engine.m_setFileToBackup;
  list.bytes = static_cast<ULONGLONG>(engine.m_i64SizeOfBackup);
  list.unreadFolders = &callback.unread;
  return PrintDryRun(list, plan->settings.name, plan->settings.json);
}

}  // namespace

int RunBackup(const std::vector<WString>& arguments) {
  // The default engine knows the program's folder: the extension groups
  // and the self-extracting program lie there.
  CQVBackupEngine engine;
  Plan plan;
  if (int status = Prepare(arguments, engine, &plan); status >= 0) return status;
  if (int status = RefuseToReplace(plan); status >= 0) return status;
  if (plan.settings.dryRun) return DryRun(engine, &plan);
  if (int status = LockArchive(engine, plan); status >= 0) return status;
  if (int status = PlanChain(&plan); status >= 0) return status;
  InterruptGuard interrupt(&engine.m_bCancel);
  const auto start = std::chrono::steady_clock::now();
  // Set before the file list is made, which tells of folders it cannot read.
  ToolCallback callback;
  engine.SetpCallBack(&callback);
  WString error;
  if (!BuildFileList(engine, plan.settings, plan.sources, &callback.unread, &error)) {
    return FailBecause(Widen("backup"), error);
  }
  BackupReport report;
  IncrementPlan increment;
  if (plan.addIncrement) {
    SavedVersions versions;
    if (int status = LoadChain(&plan, &versions); status >= 0) return status;
    increment = PlanIncrement(engine, versions);
    report.unchanged = increment.unchanged;
    report.gone = increment.gone;
  }
  if (plan.remote != nullptr) {
    // Each volume is sent as soon as it is written.
    plan.sending = std::make_unique<MemberSending>(*plan.remote, plan.settings.name, &engine.m_bCancel);
    plan.form.volumeWritten = &MemberSending::Taken;
    plan.form.volumeWrittenValue = plan.sending->UserValue();
    engine.m_i64DestinationRoom = static_cast<LONGLONG>(MemberSending::LocalRoom(plan.form.volumeSize));
  }
  ProgressBar bar(!plan.settings.quiet && StandardErrorIsTerminal(),
                  static_cast<ULONGLONG>(engine.m_i64SizeOfBackup));
  callback.SetBar(&bar);
  engine.SetWorkerThreads(plan.settings.threads);
  engine.SetCompressionEffort(plan.settings.effort);
  const RunResult result = plan.addIncrement ? WriteIncrement(engine, plan.form, increment)
                                             : WriteBase(engine, plan.form, plan.settings.incremental, callback);
  bar.Finish();
  callback.SetBar(nullptr);
  // A remote archive is still to be sent: Ctrl-C stops that too.
  if (plan.remote == nullptr) interrupt.Release();
  report.seconds = SecondsSince(start);
  return Conclude(plan, engine, result, callback, &report);
}

}  // namespace qvtool
