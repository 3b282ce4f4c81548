// CQVStringArray: an ordered array of strings with value semantics.
#include "qvbackup/qvstring.h"

CQVStringArray::CQVStringArray(DWORD growBy) : m_dwGrowBy(growBy != 0 ? growBy : 1) {}

CQVStringArray::CQVStringArray(const CQVStringArray& other) = default;

CQVStringArray::~CQVStringArray() = default;

CQVStringArray& CQVStringArray::operator=(const CQVStringArray& other) {
  Copy(other);
  return *this;
}

void CQVStringArray::Copy(const CQVStringArray& other) {
  if (this != &other) m_vecItems = other.m_vecItems;
}

DWORD CQVStringArray::GetSize() const { return static_cast<DWORD>(m_vecItems.size()); }

CQVString CQVStringArray::operator[](DWORD index) const { return GetAt(index); }

CQVString CQVStringArray::GetAt(DWORD index) const {
  return index < m_vecItems.size() ? m_vecItems[index] : CQVString();
}

BOOL CQVStringArray::SetAt(DWORD index, const CQVString& value) {
  if (index >= m_vecItems.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m_vecItems[index] = value;
  return TRUE;
}

BOOL CQVStringArray::Add(const CQVString& value, DWORD* newIndex) {
  std::size_t size = m_vecItems.size();
  if (size == m_vecItems.capacity()) {
    // At least the caller's step, at least half again: linear growth would
    // make filling a large array quadratic.
    std::size_t step = size / 2 > m_dwGrowBy ? size / 2 : m_dwGrowBy;
    m_vecItems.reserve(size + step);
  }
  m_vecItems.push_back(value);
  if (newIndex != nullptr) *newIndex = static_cast<DWORD>(size);
  return TRUE;
}

void CQVStringArray::RemoveAll() { m_vecItems.clear(); }
