// The crypto service at archive-block scale: the first key derivation (the
// memory-hard cost a password pays once), remembered derivations (what every
// block pays), and CRC-32 and AES-256-GCM over 256 KiB blocks.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "qvbackup/qvcrypto.h"

namespace {

constexpr DWORD kBlockSize = 262144;
const BYTE kSalt[] = {'~', 'K', 'd', '!', '4', 'p', '%', 'Z', 'r', '2', 'q'};

std::vector<BYTE> Block() {
  std::vector<BYTE> data(kBlockSize);
  for (DWORD i = 0; i < kBlockSize; ++i) data[i] = static_cast<BYTE>(i * 2654435761u >> 24);
  return data;
}

void BM_DeriveKeyFirstTime(benchmark::State& state) {
  BYTE key[32];
  for (auto _ : state) {
    CQVCrypto crypto;  // nothing remembered
    if (!crypto.CryptoDeriveKey(QVT("benchmark password"), QV_KEY_256, key, kSalt, sizeof(kSalt))) {
      state.SkipWithError("derivation failed");
    }
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_DeriveKeyFirstTime)->Unit(benchmark::kMillisecond);

void BM_DeriveKeyRemembered(benchmark::State& state) {
  CQVCrypto crypto;
  BYTE key[32];
  crypto.CryptoDeriveKey(QVT("benchmark password"), QV_KEY_256, key, kSalt, sizeof(kSalt));
  for (auto _ : state) {
    crypto.CryptoDeriveKey(QVT("benchmark password"), QV_KEY_256, key, kSalt, sizeof(kSalt));
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_DeriveKeyRemembered);

void BM_Crc32Block(benchmark::State& state) {
  CQVCrypto crypto;
  std::vector<BYTE> data = Block();
  BYTE digest[4];
  for (auto _ : state) {
    void* hash = crypto.HashCreate(QV_HASH_CRC32, nullptr, 0);
    crypto.HashAddData(hash, data.data(), kBlockSize);
    crypto.HashGetClose(hash, digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * kBlockSize);
}
BENCHMARK(BM_Crc32Block);

void BM_EncryptBlock(benchmark::State& state) {
  CQVCrypto crypto;
  BYTE key[32] = {1, 2, 3};
  void* context = crypto.CryptoCreate(QV_ENCRYPTION_AES256GCM, key, 256);
  std::vector<BYTE> data = Block();
  std::vector<BYTE> stored(crypto.GetDestinationBufferSize(context, kBlockSize));
  for (auto _ : state) {
    crypto.CryptoEncryptData(context, data.data(), stored.data(), kBlockSize);
    benchmark::DoNotOptimize(stored.data());
  }
  crypto.CryptoDestroy(context);
  state.SetBytesProcessed(state.iterations() * kBlockSize);
}
BENCHMARK(BM_EncryptBlock);

// What a block costs the container: remembered key, a new context, encrypt.
void BM_EncryptBlockAsTheContainerDoes(benchmark::State& state) {
  CQVCrypto crypto;
  BYTE key[32];
  crypto.CryptoDeriveKey(QVT("benchmark password"), QV_KEY_256, key, kSalt, sizeof(kSalt));
  std::vector<BYTE> data = Block();
  std::vector<BYTE> stored(kBlockSize + QV_ENCRYPTION_OVERHEAD);
  for (auto _ : state) {
    crypto.CryptoDeriveKey(QVT("benchmark password"), QV_KEY_256, key, kSalt, sizeof(kSalt));
    void* context = crypto.CryptoCreate(QV_ENCRYPTION_AES256GCM, key, 256);
    crypto.CryptoEncryptData(context, data.data(), stored.data(), kBlockSize);
    crypto.CryptoDestroy(context);
    benchmark::DoNotOptimize(stored.data());
  }
  state.SetBytesProcessed(state.iterations() * kBlockSize);
}
BENCHMARK(BM_EncryptBlockAsTheContainerDoes);

void BM_DecryptBlock(benchmark::State& state) {
  CQVCrypto crypto;
  BYTE key[32] = {1, 2, 3};
  void* context = crypto.CryptoCreate(QV_ENCRYPTION_AES256GCM, key, 256);
  std::vector<BYTE> data = Block();
  std::vector<BYTE> stored(kBlockSize + QV_ENCRYPTION_OVERHEAD), work(stored.size());
  crypto.CryptoEncryptData(context, data.data(), stored.data(), kBlockSize);
  for (auto _ : state) {
    state.PauseTiming();  // decryption is in place: start each round afresh
    std::memcpy(work.data(), stored.data(), stored.size());
    state.ResumeTiming();
    if (!crypto.CryptoDecryptData(context, work.data(), static_cast<DWORD>(work.size()), nullptr)) {
      state.SkipWithError("decryption failed");
    }
    benchmark::DoNotOptimize(work.data());
  }
  crypto.CryptoDestroy(context);
  state.SetBytesProcessed(state.iterations() * kBlockSize);
}
BENCHMARK(BM_DecryptBlock);

}  // namespace
