// UTF-16 string, path and string-array value types.
//
// Every exported class of the library takes and returns text in these types.
// All text is UTF-16 (WCHAR); lengths, positions and counts are in code units,
// never bytes. "Text" below means a zero-terminated UTF-16 pointer; a null
// text is read as an empty one. Values are independent copies: nothing is
// shared between two objects, and none of these types is thread-safe beyond
// what an ordinary value type is. Memory exhaustion throws std::bad_alloc;
// every other failure is a result (plus the thread's last error where said).
#ifndef QVBACKUP_QVSTRING_H_
#define QVBACKUP_QVSTRING_H_

#include <cstdarg>
#include <string>
#include <vector>

#include "qvbackup/export.h"
#include "qvbackup/wintypes.h"

// An owned, growable UTF-16 string. It never holds a 0 code unit, so its
// length is also the length of the zero-terminated text it converts to.
class QVBACKUP_API CQVString {
 public:
  CQVString();
  CQVString(const WCHAR* text);  // NOLINT: implicit, as text is passed freely
  CQVString(const CQVString& other);
  CQVString(CQVString&& other) noexcept;  // leaves `other` empty
  ~CQVString();

  // The string holds exactly the given value afterwards. Assigning the
  // character 0 makes the string empty.
  CQVString& operator=(const CQVString& other);
  CQVString& operator=(CQVString&& other) noexcept;
  CQVString& operator=(const WCHAR* text);
  CQVString& operator=(WCHAR character);

  // Appends `text` (or one code unit; 0 appends nothing). Appending the
  // string's own text is allowed.
  CQVString& operator+=(const WCHAR* text);
  CQVString& operator+=(const CQVString& other);
  CQVString& operator+=(WCHAR character);

  // A new string: this one followed by `text`. This one is unchanged. The
  // WCHAR form exists so that `s + c` never becomes pointer arithmetic
  // through the conversion to const WCHAR*.
  CQVString operator+(const WCHAR* text) const;
  CQVString operator+(const CQVString& other) const;
  CQVString operator+(WCHAR character) const;

  // Exact, case-sensitive equality of the code units.
  bool operator==(const WCHAR* text) const;
  bool operator==(const CQVString& other) const;
  bool operator!=(const WCHAR* text) const;
  bool operator!=(const CQVString& other) const;

  // Strict weak order: plain lexicographic order of the UTF-16 code units
  // (unsigned), a prefix before its extensions. This is the order of ordered
  // maps and sets keyed by CQVString. It is not a linguistic collation:
  // "B" < "a", and characters outside the Basic Multilingual Plane (surrogate
  // pairs, 0xD800-0xDFFF) sort before U+E000..U+FFFF.
  bool operator<(const WCHAR* text) const;
  bool operator<(const CQVString& other) const;

  // The zero-terminated text, valid until the string is next changed or
  // destroyed. Never null: an empty string gives "".
  operator const WCHAR*() const;
  const WCHAR* GetString() const;

  // Number of code units.
  DWORD GetLength() const;
  // TRUE when the length is 0.
  BOOL IsEmpty() const;
  // Makes the string empty.
  void Empty();

  // The code unit at `index`; 0 when `index` is not below the length.
  WCHAR GetAt(DWORD index) const;

  // New strings of the first / last `count` code units (the whole string when
  // `count` is not below the length).
  CQVString Left(DWORD count) const;
  CQVString Right(DWORD count) const;

  // Looks for `text` at or after code unit `start`. Returns TRUE and stores
  // the position of the first occurrence in `*position` (when not null), or
  // FALSE when it does not occur there, `text` is empty or `start` is past the
  // end. `*position` is left alone on FALSE.
  BOOL Find(const WCHAR* text, DWORD* position, DWORD start = 0) const;

  // Looks for `character` from the end. Returns TRUE and stores the position
  // of its last occurrence in `*position` (when not null), or FALSE.
  BOOL ReverseFind(WCHAR character, DWORD* position) const;

  // Number of non-overlapping occurrences of `text`, counted from the start
  // ("aaa" holds "aa" once); 0 for an empty text.
  DWORD GetNbOccurrences(const WCHAR* text) const;

  // Replaces every non-overlapping occurrence of `oldText`, scanning from the
  // start, with `newText` (which may be empty). The replaced text is not
  // scanned again. Returns TRUE, also when nothing occurred; FALSE with
  // ERROR_INVALID_PARAMETER for an empty `oldText` (the string is unchanged).
  BOOL Replace(const WCHAR* oldText, const WCHAR* newText);

  // Lowers in place every letter of ASCII, Latin-1, Latin Extended-A, Greek
  // and Cyrillic whose lower-case form upper-cases back to it (so a string
  // always compares equal to its lowered self with CompareNoCase). Other code
  // units are unchanged.
  void MakeLower();

  // Removes the trailing code units that belong to the set `characters`.
  void TrimRight(const WCHAR* characters);

  // Compares ignoring case: both sides are upper-cased code unit by code unit
  // with the library's case table (the letters MakeLower knows), then compared
  // as operator< does. Returns 0 when equal, a negative or positive number
  // when this string sorts before or after `text`.
  int CompareNoCase(const WCHAR* text) const;

  // Replaces the string with `format` filled with the arguments, printf
  // style. Conversions: %s (UTF-16 text; null prints "(null)"), %c (one
  // UTF-16 code unit passed as int), %d %i (signed), %u %x %X %o (unsigned).
  // Integers are 32-bit unless prefixed: h (16-bit), l and I32 (32-bit on
  // every platform, so DWORD and LONG pass as %lu / %ld), ll and I64
  // (64-bit). Flags '-', '0', '+', ' ', '#'; a width and a precision, either
  // of which may be '*' (taken from an int argument); %% gives '%'. For %s
  // the precision is the most code units copied (a surrogate pair is never
  // cut in half). An unknown conversion is copied literally and takes no
  // argument. Returns TRUE; FALSE with ERROR_INVALID_PARAMETER, leaving the
  // string unchanged, for a null `format` or a width or precision above
  // 1,048,576. Arguments may point into this string's own text.
  BOOL Format(const WCHAR* format, ...);
  BOOL FormatV(const WCHAR* format, std::va_list arguments);

 private:
  std::basic_string<WCHAR> m_strText;
};

// A CQVString that holds a path in Windows form ("C:\Users\a.txt") and adds
// path operations. Components are separated by '\' (also by '/' and by the
// ':' after a drive letter, as the Windows shell reads paths).
class QVBACKUP_API CQVPathString : public CQVString {
 public:
  CQVPathString();
  CQVPathString(const WCHAR* text);  // NOLINT: implicit, as for CQVString
  CQVPathString(const CQVString& other);
  using CQVString::operator=;

  // The last component: the text after the last separator that is followed
  // by something other than a separator. So "C:\a\b.txt" gives "b.txt",
  // "C:\a\dir\" gives "dir\", "C:a" gives "a", and "C:\" and "C:" are
  // returned whole. A path without separators is returned whole.
  CQVPathString FindFileName() const;

  // The extension of the last component, dot included: from its last '.' to
  // the end ("archive.tar.gz" gives ".gz", ".profile" gives ".profile",
  // "file." gives "."). Empty when the last component has no dot or the
  // path ends with a separator.
  CQVPathString FindExtension() const;

  // Removes in place what FindExtension returns (the dot included).
  void RemoveExtension();

  // Appends '\' unless the path already ends with one (an empty path
  // becomes "\").
  void AddBackslash();

  // TRUE when a file or folder exists at the path (drive-letter paths on
  // every platform; see the drive map of qvbackup/host.h).
  BOOL FileExists() const;
};

// A CQVPathString that can fill itself with a system location.
class QVBACKUP_API CQVSysPathString : public CQVPathString {
 public:
  CQVSysPathString();
  CQVSysPathString(const WCHAR* text);  // NOLINT: implicit, as for CQVString
  CQVSysPathString(const CQVString& other);
  using CQVString::operator=;

  // Fills the string with the full drive-letter path of the running program's
  // executable file and returns TRUE. On failure returns FALSE with the
  // system's last error and leaves the string unchanged.
  BOOL GetCurrentApplicationName();
};

// An owned, ordered array of CQVString values, indexed from 0.
class QVBACKUP_API CQVStringArray {
 public:
  // An empty array. `growBy` is the least number of slots reserved each time
  // the array runs out of room (0 counts as 1); larger arrays grow
  // geometrically, so appending stays cheap whatever the step.
  explicit CQVStringArray(DWORD growBy);
  CQVStringArray(const CQVStringArray& other);
  virtual ~CQVStringArray();

  // This array becomes an element-by-element copy of `other` (its own growth
  // step is kept). Copying an array onto itself changes nothing.
  CQVStringArray& operator=(const CQVStringArray& other);
  void Copy(const CQVStringArray& other);

  // Number of elements.
  DWORD GetSize() const;

  // A copy of the element at `index`; an empty string when `index` is not
  // below the size.
  CQVString operator[](DWORD index) const;
  CQVString GetAt(DWORD index) const;

  // Replaces the element at `index` and returns TRUE; FALSE with
  // ERROR_INVALID_PARAMETER when `index` is not below the size.
  BOOL SetAt(DWORD index, const CQVString& value);

  // Appends `value` and returns TRUE; stores its index in `*newIndex` when
  // that is not null.
  BOOL Add(const CQVString& value, DWORD* newIndex = nullptr);

  // Removes every element.
  void RemoveAll();

 private:
  std::vector<CQVString> m_vecItems;
  DWORD m_dwGrowBy;
};

#endif  // QVBACKUP_QVSTRING_H_
