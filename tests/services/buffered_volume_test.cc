// A volume read through its buffer gives the bytes, positions and errors
// of the file under it, in far fewer calls: random mixes of reads, seeks,
// writes and cuts against the same steps on a plain copy, short reads at
// the end, and failures of the file under it.
#include "storage/buffered_volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace qv::storage {
namespace {

// A file in memory, as the platform's files behave: reads short only at the
// end, writes past the end extend it with zeros. Counts the calls that
// would reach the system and fails a chosen one.
class MemoryFile : public platform::RandomAccessFile {
 public:
  explicit MemoryFile(std::vector<BYTE>* bytes) : bytes_(*bytes) {}

  bool Read(void* buffer, DWORD size, DWORD* read) override {
    if (Fails()) return false;
    ++reads;
    const ULONGLONG count = position_ < bytes_.size() ? std::min<ULONGLONG>(size, bytes_.size() - position_) : 0;
    if (count != 0) std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    *read = static_cast<DWORD>(count);
    return true;
  }
  bool Write(const void* data, DWORD size) override {
    if (Fails()) return false;
    if (size == 0) return true;
    if (bytes_.size() < position_ + size) bytes_.resize(position_ + size);
    std::memcpy(bytes_.data() + position_, data, size);
    position_ += size;
    return true;
  }
  bool Seek(ULONGLONG offset) override {
    if (Fails()) return false;
    ++seeks;
    position_ = offset;
    return true;
  }
  bool Tell(ULONGLONG* offset) override {
    ++tells;
    *offset = position_;
    return true;
  }
  bool Size(ULONGLONG* size) override {
    *size = bytes_.size();
    return true;
  }
  bool Truncate() override {
    if (Fails()) return false;
    bytes_.resize(position_);
    return true;
  }
  bool Sync() override { return true; }

  int reads = 0;
  int seeks = 0;
  int tells = 0;
  int failAt = -1;  // the call, counted from 0, that fails with ERROR_READ_FAULT

 private:
  bool Fails() {
    if (calls_++ != failAt) return false;
    // What a failed call leaves of the position is not to be relied on.
    position_ = 7;
    SetLastError(ERROR_READ_FAULT);
    return true;
  }

  std::vector<BYTE>& bytes_;
  ULONGLONG position_ = 0;
  int calls_ = 0;
};

std::vector<BYTE> Pattern(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<BYTE> bytes(size);
  for (BYTE& byte : bytes) byte = static_cast<BYTE>(random());
  return bytes;
}

// The same steps on the buffered file and on a plain one over a copy of
// the bytes: every read, position and size must agree, and so must the
// bytes left in the end.
TEST(BufferedVolume, RandomStepsAgreeWithThePlainFile) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::vector<BYTE> buffered = Pattern(300000, seed);
    std::vector<BYTE> plain = buffered;
    auto* under = new MemoryFile(&buffered);
    BufferedVolume volume(std::unique_ptr<platform::RandomAccessFile>(under), 4096);
    MemoryFile reference(&plain);
    std::mt19937 random(seed * 7919);
    for (int step = 0; step < 400; ++step) {
      const unsigned kind = random() % 10;
      if (kind < 6) {
        // Mostly small reads, some larger than the buffer.
        const DWORD size = random() % 4 == 0 ? random() % 20000 : random() % 300;
        std::vector<BYTE> got(size + 1, 0xEE);
        std::vector<BYTE> want(size + 1, 0xEE);
        DWORD gotCount = 0;
        DWORD wantCount = 0;
        ASSERT_TRUE(volume.Read(got.data(), size, &gotCount));
        ASSERT_TRUE(reference.Read(want.data(), size, &wantCount));
        ASSERT_EQ(gotCount, wantCount) << "seed " << seed << " step " << step;
        ASSERT_EQ(got, want) << "seed " << seed << " step " << step;
      } else if (kind < 8) {
        const ULONGLONG to = random() % 310000;
        ASSERT_TRUE(volume.Seek(to));
        ASSERT_TRUE(reference.Seek(to));
      } else if (kind == 8) {
        const std::vector<BYTE> data = Pattern(random() % 5000, seed + step);
        ASSERT_TRUE(volume.Write(data.data(), static_cast<DWORD>(data.size())));
        ASSERT_TRUE(reference.Write(data.data(), static_cast<DWORD>(data.size())));
      } else if (random() % 8 == 0) {
        ASSERT_TRUE(volume.Truncate());
        ASSERT_TRUE(reference.Truncate());
      }
      ULONGLONG at = 0;
      ULONGLONG want = 0;
      ASSERT_TRUE(volume.Tell(&at));
      ASSERT_TRUE(reference.Tell(&want));
      ASSERT_EQ(at, want) << "seed " << seed << " step " << step;
    }
    ASSERT_EQ(buffered, plain) << "seed " << seed;
  }
}

// A run of small reads through a file, as a restore reads block headers
// and small blocks: one call of the file per buffer, none to ask where it is.
TEST(BufferedVolume, SmallReadsTakeOneCallPerBuffer) {
  std::vector<BYTE> bytes = Pattern(1 << 20, 3);
  auto* under = new MemoryFile(&bytes);
  BufferedVolume volume(std::unique_ptr<platform::RandomAccessFile>(under), 64 * 1024);
  std::vector<BYTE> back;
  BYTE piece[14 + 100];
  for (ULONGLONG at = 0; at < bytes.size();) {
    ULONGLONG position = 0;
    ASSERT_TRUE(volume.Tell(&position));
    ASSERT_EQ(position, at);
    ASSERT_TRUE(volume.Seek(at));  // as the reader puts itself where it is
    DWORD read = 0;
    ASSERT_TRUE(volume.Read(piece, sizeof piece, &read));
    back.insert(back.end(), piece, piece + read);
    at += read;
    if (read < sizeof piece) break;
  }
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(under->reads, 16 + 1);  // sixteen buffers, and the one that meets the end
  EXPECT_EQ(under->seeks, 0);
  EXPECT_EQ(under->tells, 0);
}

// A large read goes to the file straight after what the buffer holds.
TEST(BufferedVolume, LargeReadsBypassTheBuffer) {
  std::vector<BYTE> bytes = Pattern(200000, 4);
  auto* under = new MemoryFile(&bytes);
  BufferedVolume volume(std::unique_ptr<platform::RandomAccessFile>(under), 1000);
  BYTE header[14];
  DWORD read = 0;
  ASSERT_TRUE(volume.Read(header, sizeof header, &read));
  std::vector<BYTE> large(150000);
  ASSERT_TRUE(volume.Read(large.data(), static_cast<DWORD>(large.size()), &read));
  ASSERT_EQ(read, large.size());
  EXPECT_TRUE(std::equal(large.begin(), large.end(), bytes.begin() + sizeof header));
  EXPECT_EQ(under->reads, 2);  // the buffer's fill, then the rest in one
  // Past the end: what there is, then nothing.
  large.assign(100000, 0);
  ASSERT_TRUE(volume.Read(large.data(), static_cast<DWORD>(large.size()), &read));
  EXPECT_EQ(read, bytes.size() - sizeof header - 150000);
  ASSERT_TRUE(volume.Read(header, sizeof header, &read));
  EXPECT_EQ(read, 0u);
}

// What was read before a write is not served again after it.
TEST(BufferedVolume, AWriteReplacesWhatWasBuffered) {
  std::vector<BYTE> bytes(10000, 0x11);
  BufferedVolume volume(std::make_unique<MemoryFile>(&bytes), 4096);
  BYTE byte = 0;
  DWORD read = 0;
  ASSERT_TRUE(volume.Read(&byte, 1, &read));
  const BYTE changed[3] = {0xA1, 0xA2, 0xA3};
  ASSERT_TRUE(volume.Seek(100));
  ASSERT_TRUE(volume.Write(changed, sizeof changed));
  BYTE back[4] = {};
  ASSERT_TRUE(volume.Seek(99));
  ASSERT_TRUE(volume.Read(back, sizeof back, &read));
  const BYTE want[4] = {0x11, 0xA1, 0xA2, 0xA3};
  EXPECT_EQ(0, std::memcmp(back, want, sizeof want));
  EXPECT_EQ(bytes[101], 0xA2);
}

// A failed call of the file fails the read with its error; the next read
// puts the file back where the volume is and reads the right bytes.
TEST(BufferedVolume, AFailedCallKeepsItsErrorAndTheNextReadIsRight) {
  const std::vector<BYTE> original = Pattern(50000, 5);
  for (int failAt = 0; failAt < 6; ++failAt) {
    std::vector<BYTE> bytes = original;
    auto* under = new MemoryFile(&bytes);
    under->failAt = failAt;
    BufferedVolume volume(std::unique_ptr<platform::RandomAccessFile>(under), 1024);
    std::vector<BYTE> back;
    bool failed = false;
    ULONGLONG at = 0;
    while (at < original.size()) {
      BYTE piece[700];
      DWORD read = 0;
      ASSERT_TRUE(volume.Seek(at));
      SetLastError(ERROR_SUCCESS);
      if (!volume.Read(piece, at % 3 == 0 ? DWORD{sizeof piece} : DWORD{300}, &read)) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
        failed = true;
        continue;  // read the same again
      }
      if (read == 0) break;
      back.insert(back.end(), piece, piece + read);
      at += read;
    }
    EXPECT_TRUE(failed) << failAt;
    EXPECT_EQ(back, original) << failAt;
  }
}

TEST(BufferedVolume, RefusesAPositionNoFileHas) {
  std::vector<BYTE> bytes(10);
  BufferedVolume volume(std::make_unique<MemoryFile>(&bytes));
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(volume.Seek(~0ull));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
}

}  // namespace
}  // namespace qv::storage
