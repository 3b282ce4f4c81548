// CQVObject: the common base of the library's polymorphic objects (the
// archive container, the INI writer).
#ifndef QVBACKUP_QVOBJECT_H_
#define QVBACKUP_QVOBJECT_H_

#include "qvbackup/export.h"
#include "qvbackup/wintypes.h"

class QVBACKUP_API CQVObject {
 public:
  virtual ~CQVObject();
  // Writes a description of the object for debugging; each class says what.
  virtual BOOL Dump() = 0;

 protected:
  CQVObject() = default;
  CQVObject(const CQVObject&) = default;
  CQVObject& operator=(const CQVObject&) = default;
};

#endif  // QVBACKUP_QVOBJECT_H_
