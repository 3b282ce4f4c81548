// What the engine object needs of the filters beyond the exported classes:
// freeing the masks that the manager's filters own, and copying a manager
// with masks of its own.
#ifndef QVBACKUP_ENGINE_ENGINE_FILTERS_H_
#define QVBACKUP_ENGINE_ENGINE_FILTERS_H_

#include <memory>

#include "qvbackup/qvbackupengine.h"

namespace qv::engine {

// Frees the three masks of every filter of `manager` and empties it. Writes
// no log line. Copies of those filters held elsewhere are left dangling.
void FreeFilterMasks(CQVFilterManager& manager);

// Frees the masks of the manager and deletes it; does nothing for null.
struct FilterManagerDeleter {
  void operator()(CQVFilterManager* manager) const;
};
using FilterManagerPtr = std::unique_ptr<CQVFilterManager, FilterManagerDeleter>;

// A new manager holding copies of `source`'s filters, in order, each with
// masks of its own and an m_findFilter that points at them (its other
// fields copied). Throws std::bad_alloc; nothing leaks when it does.
FilterManagerPtr CopyFilterManager(const CQVFilterManager& source);

// `filter` with each of its three texts that is the text of a mask of a
// filter of `from` replaced by the text of the same mask of the filter at
// the same position in `to` (which must hold as many filters). Texts that
// are not masks of `from` are kept.
QV_FINDFILTER RetargetFindFilter(const QV_FINDFILTER& filter, const CQVFilterManager& from,
                                 const CQVFilterManager& to);

// True when one of the three texts of `filter` is the text of a mask of a
// filter of `manager`.
bool PointsIntoFilters(const QV_FINDFILTER& filter, const CQVFilterManager& manager);

}  // namespace qv::engine

#endif  // QVBACKUP_ENGINE_ENGINE_FILTERS_H_
