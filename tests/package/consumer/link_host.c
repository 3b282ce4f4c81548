/* A host linked by an MSVC-compatible linker (lld-link) against the import
 * library QVBackupEngine.lib alone: no C runtime, its entry point returns
 * the exit status. 0 when every call answered as it should.
 *   link_host.exe (in a folder with QVBackupEngine.dll)
 */
#include <qvbackup/qvbackup.h>

int host_entry(void) {
  int major = -1;
  char text[64];
  qvb_session* session;
  int error;
  if (qvb_version(&major, 0, 0)[0] == 0 || major < 0) return 10;
  if (qvb_error_text(QVB_ERROR_DAMAGED, text, sizeof(text)) == 0) return 11;
  session = qvb_session_new();
  if (session == 0) return 12;
  /* A run through the import library: an archive that is not there. */
  error = qvb_list(session, "no-such-archive.QVA", 0);
  if (error != 2) return 13;
  if (qvb_session_message(session, text, sizeof(text)) == 0) return 14;
  qvb_session_free(session);
  return 0;
}
