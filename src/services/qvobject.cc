// CQVObject: the common polymorphic base. Its destructor lives here so that
// the virtual table is emitted (and exported) once, in the library.
#include "qvbackup/qvobject.h"

CQVObject::~CQVObject() = default;
