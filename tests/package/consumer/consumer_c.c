/* A host written in C against the installed package: the library's
 * version, error texts (whole and cut), drive paths and the drive map, each
 * checked. Compiled as C89.
 *   qv_consumer_c VERSION NATIVE_PATH EXPECTED_DRIVE_PATH
 */
#include <stdio.h>
#include <string.h>

#include <qvbackup/qvbackup.h>

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer_c: %s\n", what);
    ++failures;
  }
}

int main(int argc, char** argv) {
  char text[512];
  char small[8];
  size_t length;
  size_t needed = 0;
  int major = -1, minor = -1, patch = -1;
  const char* version;
  if (argc != 4) {
    fprintf(stderr, "usage: qv_consumer_c VERSION NATIVE_PATH EXPECTED_DRIVE_PATH\n");
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
  if (failures == 0) printf("consumer_c: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
