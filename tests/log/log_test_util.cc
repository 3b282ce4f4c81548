#include "log/log_test_util.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/system_info.h"

namespace qvtest {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), so that the
// fake system shows calendar seconds as UTC whatever the machine's zone.
void CivilFromDays(std::int64_t days, int* year, unsigned* month, unsigned* day) {
  days += 719468;
  std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = static_cast<int>(yearOfEra + era * 400) + (*month <= 2 ? 1 : 0);
}

// A real file whose writes fail while the fake system says so.
class FaultyFile : public qv::platform::WritableFile {
 public:
  FaultyFile(std::unique_ptr<qv::platform::WritableFile> file, FakeSystem* system)
      : file_(std::move(file)), system_(system) {}

  bool Write(const void* data, DWORD size) override {
    if (!system_->failWrites) return file_->Write(data, size);
    SetLastError(ERROR_DISK_FULL);
    return false;
  }

  bool SeekToEnd() override { return file_->SeekToEnd(); }

 private:
  std::unique_ptr<qv::platform::WritableFile> file_;
  FakeSystem* system_;
};

void AppendUtf16Le(const WString& text, std::string* bytes) {
  for (WCHAR unit : text) {
    auto value = static_cast<std::uint16_t>(unit);
    bytes->push_back(static_cast<char>(value & 0xFF));
    bytes->push_back(static_cast<char>(value >> 8));
  }
}

}  // namespace

std::vector<CQVString> FakeLogEnv::ConfigurationRoots() {
  std::vector<CQVString> roots;
  for (const WString& root : system_->roots) roots.emplace_back(root.c_str());
  return roots;
}

UINT FakeLogEnv::DriveTypeOf(const WCHAR* root) {
  auto found = system_->driveTypes.find(root);
  return found == system_->driveTypes.end() ? qv::platform::kDriveTypeFixed : found->second;
}

bool FakeLogEnv::CurrentFolder(CQVString* folder) {
  if (system_->currentFolder.empty()) return false;
  *folder = system_->currentFolder.c_str();
  return true;
}

bool FakeLogEnv::ToLocalTime(std::int64_t seconds, SYSTEMTIME* local) {
  std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  std::int64_t secondOfDay = seconds - days * 86400;
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  *local = SYSTEMTIME{static_cast<WORD>(year), static_cast<WORD>(month), 0, static_cast<WORD>(day),
                      static_cast<WORD>(secondOfDay / 3600), static_cast<WORD>(secondOfDay / 60 % 60),
                      static_cast<WORD>(secondOfDay % 60), 0};
  return true;
}

std::unique_ptr<qv::platform::WritableFile> FakeLogEnv::CreateLogFile(const WCHAR* path) {
  ++system_->createdFiles;
  auto file = qv::platform::CreateWritableFile(path, qv::platform::Creation::kNew);
  if (file == nullptr) return nullptr;
  return std::make_unique<FaultyFile>(std::move(file), system_);
}

std::unique_ptr<QV_LOG> MakeLog(FakeSystem* system, const WString& fileName) {
  return std::make_unique<QV_LOG>(fileName.c_str(), std::make_unique<FakeLogEnv>(system));
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string LogFileBytes(const std::vector<WString>& lines) {
  std::string bytes("\xFF\xFE", 2);
  for (const WString& line : lines) {
    AppendUtf16Le(line, &bytes);
    AppendUtf16Le(W("\r\n"), &bytes);
  }
  return bytes;
}

std::vector<WString> ReadLogLines(const std::filesystem::path& path) {
  std::string bytes = ReadBytes(path);
  std::vector<WString> lines;
  if (bytes.size() < 2 || bytes.substr(0, 2) != std::string("\xFF\xFE", 2) || bytes.size() % 2 != 0) {
    ADD_FAILURE() << path << " is not UTF-16LE text with a byte order mark";
    return lines;
  }
  WString text;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    auto unit = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) |
                (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    text.push_back(static_cast<WCHAR>(unit));
  }
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(W("\r\n"), start)) != WString::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start != text.size()) ADD_FAILURE() << path << " does not end with CR LF";
  return lines;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Utf16LeWithMark(const std::string& text) {
  std::string bytes("\xFF\xFE", 2);
  AppendUtf16Le(W(text), &bytes);
  return bytes;
}

WString ExplanationOf(DWORD error) {
  qv::WString text;
  if (qv::platform::GetSystemErrorText(error, &text) && !text.empty()) return W(" : ") + text;
  return W(" (Error " + std::to_string(error) + ")");
}

}  // namespace qvtest
