#include "platform/shadow_copy.h"

#include "platform/posix/posix_error.h"

namespace qv::platform {

using posix::FailWith;

// Nothing to hold: no POSIX system offers the service.
struct ShadowCopySession::State {};

ShadowCopySession::ShadowCopySession() = default;

ShadowCopySession::~ShadowCopySession() = default;

bool ShadowCopySession::Begin() { return FailWith(ERROR_NOT_SUPPORTED); }

bool ShadowCopySession::GatherWriters() { return FailWith(ERROR_NOT_SUPPORTED); }

bool ShadowCopySession::Create(const WCHAR*, DWORD) { return FailWith(ERROR_NOT_SUPPORTED); }

bool ShadowCopySession::DevicePath(WString*) const { return FailWith(ERROR_NOT_SUPPORTED); }

DWORD ShadowCopySession::LastServiceResult() const { return 0; }

void ShadowCopySession::End() {}

}  // namespace qv::platform
