// qvsfx: the program in front of a self-extracting archive. Run, it
// restores the files it carries into the folder given as its argument, or
// into a folder beside itself named after it.
#include <string>

#include "qvbackup/host.h"

#include "sfx_console.h"
#include "sfx_restore.h"

namespace qvsfx {

namespace {

constexpr wchar_t kPasswordVariable[] = L"QVSFX_PASSWORD";

std::wstring Usage(const std::wstring& program) {
  return L"usage: " + program + L" [FOLDER]\n"
         L"\n"
         L"Restores the files this program carries below FOLDER (default: the folder\n"
         L"beside the program named after it), as FOLDER\\Kelvar_<drive>\\<path>.\n"
         L"An archive with a password takes it from the environment variable\n"
         L"QVSFX_PASSWORD, or asks for it on the console without echo.\n"
         L"Exit status: 0 when every file was restored, 1 otherwise.\n";
}

// "D:\dl\photos.exe" -> "D:\dl\photos".
std::wstring DefaultTarget(const std::wstring& program) {
  const std::size_t separator = program.find_last_of(L"\\/");
  const std::size_t dot = program.rfind(L'.');
  if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) return program + L".files";
  return program.substr(0, dot);
}

bool AskPassword(std::wstring* password) {
  if (ReadEnvironment(kPasswordVariable, password)) return true;
  return ReadHiddenLine(L"Password: ", password);
}

int Run(const std::wstring& program, const std::wstring& target) {
  CQVBackupControl control;
  DWORD error = 0;
  switch (OpenCarriedArchive(control, AskPassword, &error)) {
    case OpenStatus::kOpened:
      break;
    case OpenStatus::kNoArchive:
      ComplainBecause(program, L"carries no archive");
      return 1;
    case OpenStatus::kNoPassword:
      ComplainBecause(program, L"the archive has a password: set QVSFX_PASSWORD or run it on a console");
      return 1;
    case OpenStatus::kWrongPassword:
      ComplainBecause(program, L"wrong password");
      return 1;
    case OpenStatus::kFailed:
      Complain(program, error);
      return 1;
  }
  // The password opened the blocks its header's check value refused: the
  // files are whole (each is checked as it is read), the header is not.
  const bool damagedHeader = control.GetStorage().IsCheckValueDamaged() != FALSE;
  if (damagedHeader) {
    ComplainBecause(program, L"the archive's header is damaged (its password check value is wrong, "
                             L"but its data opens): restoring anyway");
  }
  WriteOut(L"Restoring into " + target + L"\n");
  const RestoreOutcome outcome = RestoreEverything(control, target);
  for (const std::wstring& path : outcome.failed) ComplainBecause(path, L"not restored");
  WriteOut(L"Restored " + std::to_wstring(outcome.files) + L" files, " + std::to_wstring(outcome.bytes) +
           L" bytes, into " + target + L"\n");
  return outcome.failed.empty() && !damagedHeader ? 0 : 1;
}

}  // namespace

}  // namespace qvsfx

int wmain(int argc, wchar_t** argv) {
  QVUseUtf8ConsoleOutput();
  const std::wstring program = qvsfx::ProgramPath();
  if (program.empty()) {
    qvsfx::Complain(L"qvsfx", GetLastError());
    return 1;
  }
  if (argc > 2 || (argc == 2 && (std::wstring(argv[1]) == L"--help" || std::wstring(argv[1]) == L"/?"))) {
    const bool asked = argc == 2;
    (asked ? qvsfx::WriteOut : qvsfx::WriteError)(qvsfx::Usage(program));
    return asked ? 0 : 1;
  }
  const std::wstring target = qvsfx::FullPath(argc == 2 ? argv[1] : qvsfx::DefaultTarget(program));
  return qvsfx::Run(program, target);
}
