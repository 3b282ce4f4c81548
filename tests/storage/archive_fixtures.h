// The archives committed under tests/data/archives/: what each holds, so
// that the build that made them and the build that reads them agree on one
// format. Made by qv_make_archive_fixtures (see make_fixtures.sh there).
#ifndef QVBACKUP_TESTS_STORAGE_ARCHIVE_FIXTURES_H_
#define QVBACKUP_TESTS_STORAGE_ARCHIVE_FIXTURES_H_

#include <string>
#include <vector>

#include "storage/storage_test_util.h"

namespace qvtest {

struct FixtureArchive {
  std::string name;        // archive name in the fixture folder
  std::string password;    // empty: none
  DWORD keyBits;
  ULONGLONG volumeSize;    // QVS_NO_VOLUME_LIMIT: one volume
  DWORD increments;        // increments after the base
};

inline std::vector<FixtureArchive> FixtureArchives() {
  return {
      {"plain", "", 256, QVS_NO_VOLUME_LIMIT, 0},
      {"secret", "p\xC3\xA4sswort \xE2\x82\xAC", 256, QVS_NO_VOLUME_LIMIT, 0},
      {"secret160", "short", 160, QVS_NO_VOLUME_LIMIT, 0},
      {"split", "", 256, 1500, 0},
      {"chain", "", 256, QVS_NO_VOLUME_LIMIT, 1},
      // Encrypted with keys of its own (the identifier in the salt, blocks
      // bound to their place); the two secret ones above predate that.
      {"ownkeys", "p\xC3\xA4sswort \xE2\x82\xAC", 256, QVS_NO_VOLUME_LIMIT, 0},
  };
}

// The blocks of increment `increment` of every fixture: text that
// compresses, random bytes that do not, and a small block of kind 0.
inline std::vector<Bytes> FixtureBlocks(DWORD increment) {
  return {TextBytes(3000 + increment), RandomBytes(4096, 100 + increment), TextBytes(16)};
}

inline ULONGLONG FixtureUserData(DWORD increment) { return 0x0123456789ABCDEFull + increment; }

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_STORAGE_ARCHIVE_FIXTURES_H_
