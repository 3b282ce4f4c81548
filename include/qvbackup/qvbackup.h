/* The C interface of the backup engine: what a host in any language calls.
 *
 * Plain C (C89 and later, and C++), every name prefixed qvb_, exported from
 * the shared library and the DLL under these very names. Strings are UTF-8.
 * A call that can fail returns 0 on success or the Windows error number that
 * says why (qvb_error_text gives its text); nothing is reported through a
 * global last error. Runs report through their session: a callback, the
 * failure's message, and the run's answer. doc/c_api.md tells more.
 */
#ifndef QVBACKUP_QVBACKUP_H_
#define QVBACKUP_QVBACKUP_H_

#include <stddef.h>

#include "qvbackup/export.h"

/* Each function of the C interface, exported as the library's others are. */
#define QVB_API QVBACKUP_API

#ifdef __cplusplus
extern "C" {
#endif

/* Error numbers the calls return besides the system's own. */
#define QVB_OK 0
#define QVB_ERROR_NOT_SUPPORTED 50       /* not on this system */
#define QVB_ERROR_INVALID_PARAMETER 87   /* an argument is wrong */
#define QVB_ERROR_INSUFFICIENT_BUFFER 122 /* the output does not fit; the size needed is told */
#define QVB_ERROR_PATH_NOT_FOUND 3       /* no drive covers the path */
#define QVB_ERROR_NOT_ENOUGH_MEMORY 8
#define QVB_ERROR_BUSY 170                /* another run is writing the archive: nothing was done */
#define QVB_ERROR_ALREADY_EXISTS 183      /* the archive is there already */
#define QVB_ERROR_INVALID_PASSWORD 86     /* an encrypted archive and no password */
#define QVB_ERROR_WRONG_PASSWORD 1323
#define QVB_ERROR_NOT_FOUND 1168          /* the answer has no such member */
#define QVB_ERROR_CANCELLED 1223          /* qvb_cancel stopped the run */
/* The library's own outcomes (the Windows bit for application errors). */
#define QVB_ERROR_INCOMPLETE 0x20000001   /* done, but items were left out: each was told */
#define QVB_ERROR_DAMAGED 0x20000002      /* verify found damage: each finding was told */
#define QVB_ERROR_FAILED 0x20000003       /* the run failed: the session's message says why */
#define QVB_ERROR_BUSY_SESSION 0x20000004 /* the session's run is under way, or a callback started a run */

/* The library's version, "MAJOR.MINOR.PATCH"; the numbers through the
 * pointers that are not null. */
QVB_API const char* qvb_version(int* major, int* minor, int* patch);

/* The English text of error number `error` (0 and the numbers the calls
 * return), "Error N" for a number without one, written into `buffer`
 * (`size` bytes, always terminated when size > 0, cut at a character's
 * end). Returns the length of the whole text in bytes without its
 * terminator: a result of `size` or more means the text was cut. */
QVB_API size_t qvb_error_text(int error, char* buffer, size_t size);

/* POSIX hosts: the library names files by drive paths ("C:\home\ann\a.txt").
 * qvb_map_drive gives drive `letter` (A to Z, either case) the native folder
 * `root` and, optionally, the raw device or image `device` (null or empty:
 * none); a null or empty root removes the letter's folder. The map starts as
 * C -> "/" plus what the QV_DRIVES environment variable says. Windows hosts
 * use the system's letters: QVB_ERROR_NOT_SUPPORTED. */
QVB_API int qvb_map_drive(char letter, const char* root, const char* device);

/* The drive path of the native path `native` (on Windows its full path), in
 * `buffer` (`size` bytes). *needed, when not null, gets its length in bytes
 * without the terminator, also when it does not fit
 * (QVB_ERROR_INSUFFICIENT_BUFFER). QVB_ERROR_PATH_NOT_FOUND when no drive
 * covers it. */
QVB_API int qvb_drive_path(const char* native, char* buffer, size_t size, size_t* needed);

/* ------------------------------------------------------------------------
 * Numbers and text
 */

/* 64-bit counts and times, in C89 too. */
#if defined(_MSC_VER)
typedef unsigned __int64 qvb_u64;
typedef __int64 qvb_i64;
#elif defined(__GNUC__)
__extension__ typedef unsigned long long qvb_u64;
__extension__ typedef long long qvb_i64;
#else
typedef unsigned long long qvb_u64;
typedef long long qvb_i64;
#endif

/* A UTF-16 code unit: what wchar_t is on Windows. */
typedef unsigned short qvb_char16;

/* UTF-16 (terminated) to UTF-8 and back, into `buffer` of `size` units;
 * *needed, when not null, gets the length the whole text needs without its
 * terminator. QVB_ERROR_INSUFFICIENT_BUFFER when it does not fit. For the
 * UTF-8 fields of the descriptions below. */
QVB_API int qvb_utf16_to_utf8(const qvb_char16* text, char* buffer, size_t size, size_t* needed);
QVB_API int qvb_utf8_to_utf16(const char* text, qvb_char16* buffer, size_t size, size_t* needed);

/* ------------------------------------------------------------------------
 * Sessions: where a host's runs report to
 *
 * Each run (qvb_backup, qvb_list, ...) belongs to a session: its callback,
 * its password, its cancel switch and, once it has ended, its answer. Runs
 * of one process take turns (a run waits for the one under way in another
 * thread). qvb_cancel may come from any thread at any time; a session's
 * other calls belong between its runs, on one thread at a time.
 */

typedef struct qvb_session qvb_session;

/* What a callback is told: `kind` says which fields mean something. */
#define QVB_EVENT_PROGRESS 1     /* percent (0 to 100) of the run's work */
#define QVB_EVENT_MESSAGE 2      /* text: a line for the user (a warning, a failure, a summary) */
#define QVB_EVENT_ITEM 3         /* path, size, mtime, attributes, member: an item listed or selected */
#define QVB_EVENT_NOT_SAVED 4    /* path, text: an item the backup could not save, and why */
#define QVB_EVENT_CHANGED 5      /* path: a file saved as read while it changed */
#define QVB_EVENT_NOT_RESTORED 6 /* path, text: an item the restore could not write, and why */
#define QVB_EVENT_DAMAGED 7      /* path, text: damage verify found */
#define QVB_EVENT_MEMBER 8       /* member, mtime, count (items), size (bytes), text (its state) */
#define QVB_EVENT_CATEGORY 9     /* member (its number), text (its name), count (files), size (bytes) */
#define QVB_EVENT_REMOVED 10     /* path, text: a source file a backup removed after saving it */

typedef struct qvb_event {
  int kind;
  int percent;
  const char* path;   /* drive path, UTF-8; "" when the kind has none */
  const char* text;   /* UTF-8; "" when the kind has none */
  qvb_u64 size;       /* bytes */
  qvb_i64 mtime;      /* seconds since 1970-01-01 UTC; -1 when not known */
  unsigned long attributes; /* Windows file attributes */
  unsigned long member;     /* 0: the base archive, K: increment K */
  qvb_u64 count;
} qvb_event;

/* Called on the thread that started the run or one of its workers, one
 * call at a time; the event and its texts last for the call only. A run
 * started from a callback (of any session) fails at once with
 * QVB_ERROR_BUSY_SESSION. */
typedef void (*qvb_callback)(void* user, const qvb_event* event);

/* A new session (null when memory is short); free it with
 * qvb_session_free once no run of it is under way. */
QVB_API qvb_session* qvb_session_new(void);
QVB_API void qvb_session_free(qvb_session* session);

/* The callback (null: none) and the pointer it is given. */
QVB_API void qvb_session_set_callback(qvb_session* session, qvb_callback callback, void* user);

/* The password the session's runs encrypt new archives with and open
 * encrypted ones with; null or "" for none (a backup is then not
 * encrypted, and an encrypted archive is refused with
 * QVB_ERROR_INVALID_PASSWORD). The session keeps its own copy, wiped when
 * replaced or freed. */
QVB_API int qvb_session_set_password(qvb_session* session, const char* password);

/* Asks the session's run under way to stop, from any thread: the backup
 * then leaves the previous archive as it
 * was and nothing of the new one, the restore removes the file it was
 * writing. The run returns QVB_ERROR_CANCELLED. Each run starts
 * uncancelled: a cancel that comes when no run is under way is lost. */
QVB_API void qvb_cancel(qvb_session* session);

/* Why the session's last run failed: its first failure as the user would
 * read it ("cannot open /mnt/backup/photos.QVA: The system cannot find the
 * file specified."), "" after a success. Length as qvb_error_text. */
QVB_API size_t qvb_session_message(const qvb_session* session, char* buffer, size_t size);

/* The whole answer of the last run as one JSON object, the one
 * `qvbackup COMMAND --json` prints (doc/c_api.md lists its members). */
QVB_API size_t qvb_session_answer(const qvb_session* session, char* buffer, size_t size);

/* A number of the last run's answer by its name ("files", "bytes",
 * "archive_bytes", "increment", "volumes"...; see each run). A name of
 * the form "a.b" reads member b of object a ("total.files"); an array's
 * value is its length ("skipped", "failed"). QVB_ERROR_NOT_FOUND when the
 * answer has no such number; a true/false member reads as 1/0. */
QVB_API int qvb_session_number(const qvb_session* session, const char* name, qvb_u64* value);

/* A text of the last run's answer by its name ("archive", "target");
 * *needed, when not null, gets its length. QVB_ERROR_NOT_FOUND when there
 * is no such text, QVB_ERROR_INSUFFICIENT_BUFFER when it does not fit. */
QVB_API int qvb_session_text(const qvb_session* session, const char* name, char* buffer, size_t size,
                             size_t* needed);

/* ------------------------------------------------------------------------
 * Selections: what a backup, a file list or a count takes
 */

typedef struct qvb_selection qvb_selection;

QVB_API qvb_selection* qvb_selection_new(void);
QVB_API void qvb_selection_free(qvb_selection* selection);

/* A folder (saved with everything below it) or a file, by its native path
 * ("/home/ann/Documents"; on Windows "C:\\Users\\ann\\Documents"). */
QVB_API int qvb_selection_add_source(qvb_selection* selection, const char* path);
QVB_API int qvb_selection_add_source_w(qvb_selection* selection, const qvb_char16* path);

/* Filters. A mask ("*.jpg", * and ?, letter case ignored): a file of a
 * source folder is taken when any mask matches its name (none: every
 * file). An extension ("jpg"): only files with one of them. Categories:
 * "pictures,music,video,offices,mail,financial" (any of them), whose
 * extensions GpExt.xml lists, added to the extensions. */
QVB_API int qvb_selection_add_mask(qvb_selection* selection, const char* mask);
QVB_API int qvb_selection_add_extension(qvb_selection* selection, const char* extension);
QVB_API int qvb_selection_set_categories(qvb_selection* selection, const char* categories);

/* Exclusions: what `pattern` matches is left out, and all below a folder it
 * matches. A name matched anywhere below a source ("node_modules",
 * "*.tmp"), a path below a source ("Photos/Summer*"), or a full path. */
#define QVB_EXCLUDE_ANY 0       /* files and folders */
#define QVB_EXCLUDE_FOLDERS 1   /* folders only */
#define QVB_EXCLUDE_FILES 2     /* what is not a folder */
#define QVB_EXCLUDE_EXTENSION 3 /* files with the extension `pattern` */
QVB_API int qvb_selection_exclude(qvb_selection* selection, int what, const char* pattern);
QVB_API int qvb_selection_exclude_w(qvb_selection* selection, int what, const qvb_char16* pattern);

/* The profile counts and list files take: whole drives ("CE"), or only the
 * files below one folder (counts), and the folder GpExt.xml is read from
 * (null: beside the program). */
QVB_API int qvb_selection_set_partitions(qvb_selection* selection, const char* letters);
QVB_API int qvb_selection_set_base(qvb_selection* selection, const char* folder);
QVB_API int qvb_selection_set_groups(qvb_selection* selection, const char* folder);

/* ------------------------------------------------------------------------
 * Backup
 */

typedef struct qvb_backup_options {
  size_t struct_size;       /* sizeof(qvb_backup_options): set by qvb_options_init */
  const char* to;           /* the archive's folder (required); "rclone:REMOTE:PATH" for one of rclone's remotes */
  const char* name;         /* the archive's name: its first volume is TO/NAME.QVA (required) */
  int incremental;          /* add the next increment to the chain NAME (a base when there is none) */
  int replace;              /* a full backup in the place of the archive NAME and its increments */
  int self_extracting;      /* TO/NAME.exe */
  const char* sfx_stub;     /* the self-extracting program (null: qvsfx.exe beside the library's host) */
  qvb_u64 volume_size;      /* split into volumes of this many bytes (0: one file; at least 65536) */
  unsigned long block_size; /* largest block in bytes, 1000 to 512M (0: 256K) */
  int compress;             /* 1 (the default): compress blocks; 0: store them */
  int key_bits;             /* with a password: 128, 160 or 256 (0: 256) */
  int allow_weak_key;       /* let key_bits be 32 or 64 */
  int threads;              /* compressing and encrypting threads, 1 to 64 (0: one per core) */
} qvb_backup_options;

/* The defaults: one volume, compressed, 256-bit keys, a thread per core;
 * `to` and `name` stay to be given. */
QVB_API void qvb_options_init(qvb_backup_options* options);

/* Saves `selection` as the options say. QVB_OK when every selected item was
 * saved (QVB_EVENT_CHANGED tells files saved as read while they changed);
 * QVB_ERROR_INCOMPLETE when the archive was written without some items,
 * each told as QVB_EVENT_NOT_SAVED; else nothing was written and the
 * previous archive is as it was: QVB_ERROR_INVALID_PARAMETER (a wrong
 * field: the session's message names it), QVB_ERROR_ALREADY_EXISTS (an
 * archive NAME is there; ask for incremental or replace), QVB_ERROR_BUSY
 * (another run writes the archive), QVB_ERROR_CANCELLED, or the system's
 * error. The answer holds "files", "folders", "links", "bytes",
 * "archive_bytes", "volumes", "increment", "unchanged", "gone" and the text
 * "archive" (the first volume's path). */
QVB_API int qvb_backup(qvb_session* session, const qvb_selection* selection, const qvb_backup_options* options);

/* The file list a backup of `selection` with `options` would save (an
 * incremental one: what is new or changed since the chain saved it),
 * without writing anything: each file as QVB_EVENT_ITEM (path only),
 * folders that cannot be read as QVB_EVENT_NOT_SAVED; the answer holds
 * its totals "count" and "bytes". */
QVB_API int qvb_file_list(qvb_session* session, const qvb_selection* selection, const qvb_backup_options* options);

/* ------------------------------------------------------------------------
 * Reading archives: `archive` is the first volume file (photos.QVA,
 * photos.1.QVA when split, photos.exe); its increments beside it are read
 * with it.
 */

#define QVB_OVERWRITE_NEVER 0   /* keep what is in the target (the default) */
#define QVB_OVERWRITE_OLDER 1   /* replace only what is older than the saved version */
#define QVB_OVERWRITE_ALWAYS 2

typedef struct qvb_read_options {
  size_t struct_size;          /* sizeof(qvb_read_options): set by qvb_read_options_init */
  const char* const* patterns; /* items to take (folders, files, * and ? paths); null or none: all */
  size_t pattern_count;
  long as_of;                  /* the chain as it was when member N was made (-1, the default: newest) */
  long increment;              /* only what member N saved (-1, the default: the whole chain) */
  int overwrite;               /* restore: QVB_OVERWRITE_... */
  int original;                /* restore: each item to the path it was saved from (target null) */
} qvb_read_options;

QVB_API void qvb_read_options_init(qvb_read_options* options);

/* Each item of the chain's state (as of `options`, null: newest) that the
 * patterns select, as QVB_EVENT_ITEM, sorted by path. */
QVB_API int qvb_list(qvb_session* session, const char* archive, const qvb_read_options* options);
QVB_API int qvb_list_w(qvb_session* session, const qvb_char16* archive, const qvb_read_options* options);

/* Restores what qvb_list would list below the folder `target` (made when
 * missing), each item at TARGET/Kelvar_<drive letter>/<its path after the
 * drive>; or, with options->original and a null target, at the path it
 * was saved from. One of the two must be asked for. QVB_OK when every item was restored or kept as
 * overwrite says; QVB_ERROR_INCOMPLETE when some could not be, each told
 * as QVB_EVENT_NOT_RESTORED. The answer holds "files", "folders", "links",
 * "bytes", "left_alone", "failed". */
QVB_API int qvb_restore(qvb_session* session, const char* archive, const char* target,
                        const qvb_read_options* options);
QVB_API int qvb_restore_w(qvb_session* session, const qvb_char16* archive, const qvb_char16* target,
                          const qvb_read_options* options);

/* Reads and checks every block of every member. QVB_OK when all is sound;
 * QVB_ERROR_DAMAGED with each finding as QVB_EVENT_DAMAGED. The answer
 * holds "members", "volumes", "blocks", "files". */
QVB_API int qvb_verify(qvb_session* session, const char* archive);
QVB_API int qvb_verify_w(qvb_session* session, const qvb_char16* archive);

/* The members of the chain, the base first, as QVB_EVENT_MEMBER: its
 * number, when it was made (-1: not known), its items and bytes (0 when
 * not known), and its state: "complete", "incomplete", "damaged",
 * "missing", "foreign" or "replaced". */
QVB_API int qvb_members(qvb_session* session, const char* archive);

/* ------------------------------------------------------------------------
 * Counts and list files (the selection's partitions or base, exclusions
 * and groups)
 */

/* Files and bytes of each category as QVB_EVENT_CATEGORY; the answer holds
 * "others.files", "others.bytes", "total.files", "total.bytes". */
QVB_API int qvb_count(qvb_session* session, const qvb_selection* selection);

/* Writes the list file `file` of a profile-driven backup of the
 * selection's partitions and categories (others: every file that is not
 * excluded); since (null: any time) keeps only files created or written
 * then or later. The answer holds "selected" and "include". */
QVB_API int qvb_write_list_file(qvb_session* session, const qvb_selection* selection, const char* file, int others,
                                const char* since);

#ifdef __cplusplus
}
#endif

#endif /* QVBACKUP_QVBACKUP_H_ */
