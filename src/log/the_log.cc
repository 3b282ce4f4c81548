// theLog: one QV_LOG in static storage, built by the first TheLogGuard to be
// constructed and destroyed by the last one to go (the "nifty counter" of
// the standard streams). Every file that includes log/qv_log.h holds a
// guard ahead of its own static objects, so theLog outlives all of them
// whatever order the files' static objects are built in.
#include <new>

#include "log/qv_log.h"

namespace {

// Raw room for the log: a union member is neither built nor destroyed by
// the union, which leaves both to the guards.
union LogStorage {
  constexpr LogStorage() : unused(0) {}
  ~LogStorage() {}
  char unused;
  QV_LOG log;
};

constinit LogStorage storage;
// Static objects are built on one thread at load time, and so are the
// guards; no lock is needed.
constinit int guardCount = 0;

}  // namespace

constinit QV_LOG& theLog = storage.log;

namespace qv::log {

TheLogGuard::TheLogGuard() {
  if (guardCount++ == 0) new (&storage.log) QV_LOG();
}

TheLogGuard::~TheLogGuard() {
  if (--guardCount == 0) storage.log.~QV_LOG();
}

}  // namespace qv::log
