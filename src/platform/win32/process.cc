#include "platform/process.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

// One argument as the C runtime's command-line parser reads it back:
// quoted when it holds a space, a tab or a quote, or is empty; backslashes
// before a quote (or the closing quote) doubled.
void AppendArgument(const WString& argument, WString* line) {
  if (!line->empty()) line->push_back(L' ');
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == WString::npos) {
    *line += argument;
    return;
  }
  line->push_back(L'"');
  std::size_t backslashes = 0;
  for (WCHAR c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line->append(backslashes * 2 + 1, L'\\');
    } else {
      line->append(backslashes, L'\\');
    }
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

// Reads what `pipe` holds now into `into`, without waiting for more.
// False once the pipe is closed at the other end and empty.
bool ReadAvailable(HANDLE pipe, std::string* into) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buffer[16384];
    DWORD got = 0;
    const DWORD wanted = available < sizeof(buffer) ? available : static_cast<DWORD>(sizeof(buffer));
    if (!ReadFile(pipe, buffer, wanted, &got, nullptr)) return false;
    into->append(buffer, got);
  }
}

}  // namespace

bool ProgramPathOf(const WString& drivePath, WString* native) {
  *native = drivePath;
  return true;
}

WString FindProgram(const WString& name) {
  if (name.empty()) {
    FailWith(ERROR_FILE_NOT_FOUND);
    return WString();
  }
  WCHAR found[MAX_PATH * 4];
  const bool hasFolder = name.find_first_of(L"\\/:") != WString::npos;
  DWORD length = 0;
  if (hasFolder) {
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return name;
  } else {
    length = SearchPathW(nullptr, name.c_str(), L".exe", static_cast<DWORD>(sizeof(found) / sizeof(found[0])), found,
                         nullptr);
  }
  if (length == 0 || length >= sizeof(found) / sizeof(found[0])) {
    FailWith(ERROR_FILE_NOT_FOUND);
    return WString();
  }
  return WString(found, length);
}

bool RunProgram(const WString& program, const std::vector<WString>& arguments, ProgramRun* run,
                const volatile BOOL* cancel) {
  *run = ProgramRun();
  const WString path = FindProgram(program);
  if (path.empty()) return false;
  WString line;
  AppendArgument(path, &line);
  for (const WString& argument : arguments) AppendArgument(argument, &line);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 65536)) return false;
  win32::FileHandle outReader(outRead), outWriter(outWrite);
  if (!CreatePipe(&errRead, &errWrite, &inherit, 65536)) return false;
  win32::FileHandle errReader(errRead), errWriter(errWrite);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  win32::FileHandle nothing(
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.Get();
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  // No console: nothing is started beside the program to serve one.
  if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  win32::FileHandle processHandle(process.hProcess), threadHandle(process.hThread);
  // Only the child holds the writing ends now: the pipes end with it.
  outWriter.Reset();
  errWriter.Reset();
  // Both pipes are emptied as the program writes, so that it never waits
  // on a full one; once it has ended, what it left in them is read and the
  // run is over, even when a program it started holds them open still.
  bool cancelled = false;
  for (;;) {
    if (cancel != nullptr && *cancel && !cancelled) {
      cancelled = true;
      TerminateProcess(process.hProcess, ERROR_CANCELLED);
    }
    const bool ended = WaitForSingleObject(process.hProcess, 10) != WAIT_TIMEOUT;
    ReadAvailable(outRead, &run->output);
    ReadAvailable(errRead, &run->errors);
    if (ended) break;
  }
  if (cancelled) return FailWith(ERROR_CANCELLED);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  run->exitCode = code;
  return true;
}

}  // namespace qv::platform
