/* A host written in C against the installed package: the library's
 * version, error texts (whole and cut), drive paths and the drive map, each
 * checked; with ARCHIVE_DIR and RESTORE_DIR also a backup of the folder
 * NATIVE_PATH, its listing, the restore of one file and a verify. Compiled
 * as C89.
 *   qv_consumer_c VERSION NATIVE_PATH EXPECTED_DRIVE_PATH [ARCHIVE_DIR RESTORE_DIR]
 */
#include <stdio.h>
#include <string.h>

#include <qvbackup/qvbackup.h>

static int failures = 0;

/* What the callback saw of a run. */
struct seen {
  int items;
  int data_items; /* items named data.bin */
  qvb_u64 data_size;
  int last_percent;
};

static void on_event(void* user, const qvb_event* event) {
  struct seen* seen = (struct seen*)user;
  size_t length;
  if (event->kind == QVB_EVENT_PROGRESS) seen->last_percent = event->percent;
  if (event->kind != QVB_EVENT_ITEM) return;
  ++seen->items;
  length = strlen(event->path);
  if (length >= 8 && strcmp(event->path + length - 8, "data.bin") == 0) {
    ++seen->data_items;
    seen->data_size = event->size;
  }
}

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer_c: %s\n", what);
    ++failures;
  }
}

/* Backs up `source`, lists it, restores data.bin alone and verifies. */
static void round_trip(const char* source, const char* archives, const char* target) {
  qvb_session* session = qvb_session_new();
  qvb_selection* selection = qvb_selection_new();
  qvb_backup_options options;
  qvb_read_options read;
  struct seen seen;
  char archive[4096];
  char message[1024];
  const char* patterns[1];
  qvb_u64 files = 0;
  int error;
  memset(&seen, 0, sizeof(seen));
  seen.last_percent = -1;
  qvb_session_set_callback(session, on_event, &seen);
  check(qvb_selection_add_source(selection, source) == QVB_OK, "qvb_selection_add_source");
  qvb_options_init(&options);
  options.to = archives;
  options.name = "host";
  error = qvb_backup(session, selection, &options);
  qvb_session_message(session, message, sizeof(message));
  if (error != QVB_OK) fprintf(stderr, "consumer_c: backup: %s (%d)\n", message, error);
  check(error == QVB_OK, "qvb_backup");
  check(seen.last_percent == 100, "the backup's progress did not reach 100");
  check(qvb_session_number(session, "files", &files) == QVB_OK && files >= 1, "the backup's file count");
  check(qvb_session_text(session, "archive", archive, sizeof(archive), NULL) == QVB_OK, "the archive's path");

  error = qvb_list(session, archive, NULL);
  check(error == QVB_OK, "qvb_list");
  check(seen.items == (int)files && seen.data_items == 1, "qvb_list's items");

  qvb_read_options_init(&read);
  patterns[0] = "data.bin";
  read.patterns = patterns;
  read.pattern_count = 1;
  error = qvb_restore(session, archive, target, &read);
  qvb_session_message(session, message, sizeof(message));
  if (error != QVB_OK) fprintf(stderr, "consumer_c: restore: %s (%d)\n", message, error);
  check(error == QVB_OK, "qvb_restore");
  files = 0;
  check(qvb_session_number(session, "files", &files) == QVB_OK && files == 1, "one file restored");
  files = 0;
  check(qvb_session_number(session, "bytes", &files) == QVB_OK && files == seen.data_size, "its bytes");

  check(qvb_verify(session, archive) == QVB_OK, "qvb_verify");
  check(qvb_restore(session, archive, NULL, &read) == QVB_ERROR_INVALID_PARAMETER, "a restore without a target");
  qvb_selection_free(selection);
  qvb_session_free(session);
}

int main(int argc, char** argv) {
  char text[512];
  char small[8];
  size_t length;
  size_t needed = 0;
  int major = -1, minor = -1, patch = -1;
  const char* version;
  if (argc != 4 && argc != 6) {
    fprintf(stderr, "usage: qv_consumer_c VERSION NATIVE_PATH EXPECTED_DRIVE_PATH [ARCHIVE_DIR RESTORE_DIR]\n");
    return 2;
  }
  version = qvb_version(&major, &minor, &patch);
  check(strcmp(version, argv[1]) == 0, "qvb_version is not the package's version");
  sprintf(text, "%d.%d.%d", major, minor, patch);
  check(strcmp(text, version) == 0, "qvb_version's numbers are not its text");

  length = qvb_error_text(2, text, sizeof(text));
#if defined(_WIN32)
  /* The system's own words (Wine has others than Windows). */
  check(length > sizeof(small) && strcmp(text, "Error 2") != 0, "the text of error 2");
#else
  check(strcmp(text, "The system cannot find the file specified.") == 0, "the text of error 2");
#endif
  check(length == strlen(text), "the length of error 2's text");
  check(qvb_error_text(2, small, sizeof(small)) == length && strlen(small) == sizeof(small) - 1 &&
            strncmp(small, text, sizeof(small) - 1) == 0,
        "error 2's text cut to a small buffer");
  qvb_error_text(987654, text, sizeof(text));
  check(strcmp(text, "Error 987654") == 0, "the text of an unknown error");

  check(qvb_drive_path(argv[2], text, sizeof(text), &needed) == QVB_OK, "qvb_drive_path failed");
  check(strcmp(text, argv[3]) == 0, "qvb_drive_path gave another path");
  check(needed == strlen(argv[3]), "qvb_drive_path's length");
  check(qvb_drive_path(argv[2], small, 3, &needed) == QVB_ERROR_INSUFFICIENT_BUFFER && needed == strlen(argv[3]),
        "qvb_drive_path into a small buffer");
  check(qvb_drive_path(NULL, text, sizeof(text), NULL) == QVB_ERROR_INVALID_PARAMETER, "qvb_drive_path of null");
#if defined(_WIN32)
  check(qvb_map_drive('Q', "C:\\", NULL) == QVB_ERROR_NOT_SUPPORTED, "qvb_map_drive on Windows");
#else
  check(qvb_map_drive('1', "/tmp", NULL) == QVB_ERROR_INVALID_PARAMETER, "qvb_map_drive of a bad letter");
  check(qvb_map_drive('q', "/", NULL) == QVB_OK, "qvb_map_drive");
  check(qvb_drive_path("/", text, sizeof(text), NULL) == QVB_OK && strlen(text) == 3 && text[1] == ':' && text[2] == '\\',
        "a mapped root");
#endif
  if (argc == 6) round_trip(argv[2], argv[4], argv[5]);
  if (failures == 0) printf("consumer_c: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
