// CQVString: value semantics, comparison, access and searching.
#include "qvbackup/qvstring.h"

#include <utility>

#include "services/qvstring_text.h"

using qv::services::TextView;
using qv::services::ViewOf;

namespace {

DWORD LengthOf(std::size_t size) { return static_cast<DWORD>(size); }

}  // namespace

CQVString::CQVString() = default;

CQVString::CQVString(const WCHAR* text) : m_strText(ViewOf(text)) {}

CQVString::CQVString(const CQVString& other) = default;

CQVString::CQVString(CQVString&& other) noexcept : m_strText(std::move(other.m_strText)) {
  other.m_strText.clear();
}

CQVString::~CQVString() = default;

CQVString& CQVString::operator=(const CQVString& other) = default;

CQVString& CQVString::operator=(CQVString&& other) noexcept {
  if (this != &other) {
    m_strText = std::move(other.m_strText);
    other.m_strText.clear();
  }
  return *this;
}

CQVString& CQVString::operator=(const WCHAR* text) {
  // assign() copes with `text` pointing into our own buffer.
  TextView view = ViewOf(text);
  m_strText.assign(view.data(), view.size());
  return *this;
}

CQVString& CQVString::operator=(WCHAR character) {
  m_strText.clear();
  if (character != 0) m_strText.push_back(character);
  return *this;
}

CQVString& CQVString::operator+=(const WCHAR* text) {
  TextView view = ViewOf(text);
  m_strText.append(view.data(), view.size());
  return *this;
}

CQVString& CQVString::operator+=(const CQVString& other) {
  m_strText.append(other.m_strText);
  return *this;
}

CQVString& CQVString::operator+=(WCHAR character) {
  if (character != 0) m_strText.push_back(character);
  return *this;
}

CQVString CQVString::operator+(const WCHAR* text) const {
  CQVString result(*this);
  result += text;
  return result;
}

CQVString CQVString::operator+(const CQVString& other) const {
  CQVString result(*this);
  result += other;
  return result;
}

CQVString CQVString::operator+(WCHAR character) const {
  CQVString result(*this);
  result += character;
  return result;
}

bool CQVString::operator==(const WCHAR* text) const { return TextView(m_strText) == ViewOf(text); }

bool CQVString::operator==(const CQVString& other) const { return m_strText == other.m_strText; }

bool CQVString::operator!=(const WCHAR* text) const { return !(*this == text); }

bool CQVString::operator!=(const CQVString& other) const { return !(*this == other); }

// char_traits<char16_t> (and <wchar_t> on Windows, where it is unsigned 16
// bits) compares code units as unsigned numbers: exactly the documented order.
bool CQVString::operator<(const WCHAR* text) const { return TextView(m_strText) < ViewOf(text); }

bool CQVString::operator<(const CQVString& other) const { return m_strText < other.m_strText; }

CQVString::operator const WCHAR*() const { return m_strText.c_str(); }

const WCHAR* CQVString::GetString() const { return m_strText.c_str(); }

DWORD CQVString::GetLength() const { return LengthOf(m_strText.size()); }

BOOL CQVString::IsEmpty() const { return m_strText.empty() ? TRUE : FALSE; }

void CQVString::Empty() { m_strText.clear(); }

WCHAR CQVString::GetAt(DWORD index) const {
  return index < m_strText.size() ? m_strText[index] : WCHAR(0);
}

CQVString CQVString::Left(DWORD count) const {
  CQVString result;
  result.m_strText = m_strText.substr(0, count);
  return result;
}

CQVString CQVString::Right(DWORD count) const {
  CQVString result;
  std::size_t size = m_strText.size();
  result.m_strText = count < size ? m_strText.substr(size - count) : m_strText;
  return result;
}

BOOL CQVString::Find(const WCHAR* text, DWORD* position, DWORD start) const {
  TextView needle = ViewOf(text);
  if (needle.empty() || start > m_strText.size()) return FALSE;
  std::size_t found = m_strText.find(needle.data(), start, needle.size());
  if (found == std::basic_string<WCHAR>::npos) return FALSE;
  if (position != nullptr) *position = LengthOf(found);
  return TRUE;
}

BOOL CQVString::ReverseFind(WCHAR character, DWORD* position) const {
  std::size_t found = m_strText.rfind(character);
  if (character == 0 || found == std::basic_string<WCHAR>::npos) return FALSE;
  if (position != nullptr) *position = LengthOf(found);
  return TRUE;
}

DWORD CQVString::GetNbOccurrences(const WCHAR* text) const {
  TextView needle = ViewOf(text);
  if (needle.empty()) return 0;
  DWORD count = 0;
  std::size_t at = m_strText.find(needle.data(), 0, needle.size());
  while (at != std::basic_string<WCHAR>::npos) {
    ++count;
    at = m_strText.find(needle.data(), at + needle.size(), needle.size());
  }
  return count;
}

BOOL CQVString::Replace(const WCHAR* oldText, const WCHAR* newText) {
  TextView needle = ViewOf(oldText);
  if (needle.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Built aside, so `newText` or `oldText` may point into our own text.
  TextView replacement = ViewOf(newText);
  std::basic_string<WCHAR> result;
  std::size_t copied = 0;
  std::size_t at = m_strText.find(needle.data(), 0, needle.size());
  while (at != std::basic_string<WCHAR>::npos) {
    result.append(m_strText, copied, at - copied);
    result.append(replacement.data(), replacement.size());
    copied = at + needle.size();
    at = m_strText.find(needle.data(), copied, needle.size());
  }
  result.append(m_strText, copied);
  m_strText = std::move(result);
  return TRUE;
}

void CQVString::TrimRight(const WCHAR* characters) {
  TextView set = ViewOf(characters);
  if (set.empty()) return;
  std::size_t last = m_strText.find_last_not_of(set.data(), std::basic_string<WCHAR>::npos, set.size());
  m_strText.erase(last == std::basic_string<WCHAR>::npos ? 0 : last + 1);
}
