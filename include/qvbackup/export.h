/* The one export macro of the library.
 *
 * On Windows the library is a DLL: its own objects export, hosts import. On
 * other systems every symbol is hidden unless marked with QVBACKUP_API.
 * Plain C, so that the C interface (qvbackup.h) can include it.
 */
#ifndef QVBACKUP_EXPORT_H_
#define QVBACKUP_EXPORT_H_

#if defined(_WIN32)
#  if defined(QVBACKUP_BUILDING)
#    define QVBACKUP_API __declspec(dllexport)
#  else
#    define QVBACKUP_API __declspec(dllimport)
#  endif
#else
#  define QVBACKUP_API __attribute__((visibility("default")))
#endif

#endif /* QVBACKUP_EXPORT_H_ */
