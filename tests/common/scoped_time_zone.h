// TZ set for a scope (POSIX test programs): the previous value comes back
// after.
#ifndef QVBACKUP_TESTS_COMMON_SCOPED_TIME_ZONE_H_
#define QVBACKUP_TESTS_COMMON_SCOPED_TIME_ZONE_H_

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace qvtest {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old != nullptr) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_COMMON_SCOPED_TIME_ZONE_H_
