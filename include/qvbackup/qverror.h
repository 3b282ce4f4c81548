// CQVError: the error holder that an object embeds to keep the code of its
// last operation (a Windows error number; 0 for success).
#ifndef QVBACKUP_QVERROR_H_
#define QVBACKUP_QVERROR_H_

#include "qvbackup/export.h"
#include "qvbackup/wintypes.h"

class QVBACKUP_API CQVError {
 public:
  CQVError();
  CQVError(const CQVError& other);
  CQVError& operator=(const CQVError& other);
  virtual ~CQVError();

  // Records `dwError` as the current code (0: success). Returns the code.
  DWORD SetError(DWORD dwError);
  // The current code.
  DWORD GetError() const;

 private:
  DWORD m_dwError;
};

#endif  // QVBACKUP_QVERROR_H_
