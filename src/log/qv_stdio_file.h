// QV_StdioFile: the log's line-oriented text file.
//
// The file is always Unicode text: it starts with the byte order mark
// U+FEFF and holds UTF-16 little-endian code units, every line ending with
// carriage return and line feed, on every platform. (Every system the
// library supports is of the Unicode kind, so the code-page form of the
// text is not written.) Each line reaches the system in one write, so a
// crash loses no line already written and an error belongs to the line
// that met it.
#ifndef QVBACKUP_LOG_QV_STDIO_FILE_H_
#define QVBACKUP_LOG_QV_STDIO_FILE_H_

#include <memory>

#include "platform/file_ops.h"
#include "qvbackup/wintypes.h"

class QV_StdioFile {
 public:
  QV_StdioFile();
  ~QV_StdioFile();
  QV_StdioFile(const QV_StdioFile&) = delete;
  QV_StdioFile& operator=(const QV_StdioFile&) = delete;

  // Takes over `file`, a file just created for writing, and writes the byte
  // order mark. Returns TRUE; FALSE with the last error when `file` is null
  // or the mark cannot be written, and the object then holds no file. A file
  // already held is closed first.
  BOOL Open(std::unique_ptr<qv::platform::WritableFile> file);

  // TRUE while a file is held.
  BOOL IsOpen() const;

  // Moves to the end of the file (others may write to it too). FALSE with
  // the last error on failure or when no file is held (ERROR_INVALID_HANDLE).
  BOOL SeekToEnd();

  // Writes `text` (null: nothing) and the line terminator CR LF as UTF-16LE.
  // FALSE with the last error on failure or when no file is held.
  BOOL WriteLine(const WCHAR* text);

  // Closes the file; harmless when none is held.
  void Close();

 private:
  std::unique_ptr<qv::platform::WritableFile> m_pFile;
};

#endif  // QVBACKUP_LOG_QV_STDIO_FILE_H_
