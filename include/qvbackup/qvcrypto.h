// CQVCrypto: key derivation, block checksums and block encryption for the
// archive container.
//
//  - Key derivation is Argon2id over the password's UTF-8 form. Its salt is
//    the caller's salt followed by the key-size code, so that keys of two
//    sizes derived from one password are unrelated (the archive's password
//    check value never reveals its block key). Results are remembered per
//    (password, code, salt), so deriving the same key for every block costs
//    nothing after the first time.
//  - Hash type 0 is CRC-32 (the zlib function), 4 bytes little-endian.
//  - Algorithm 3 is AES-256-GCM with a fresh random 12-byte nonce per call:
//    output = nonce || ciphertext || 16-byte tag (input + 28 bytes).
//    Decryption checks the tag and fails on any change. Keys shorter than
//    256 bits are stretched with SHA-256 (their strength stays their size).
//
// Handles are opaque pointers; null means failure. Failures set the
// thread's last error (ERROR_GEN_FAILURE when libgcrypt itself cannot be
// used). An object (and its handles) serves one thread at a
// time; copies remember the same keys.
#ifndef QVBACKUP_QVCRYPTO_H_
#define QVBACKUP_QVCRYPTO_H_

#include <map>
#include <string>
#include <vector>

#include "qvbackup/export.h"
#include "qvbackup/wintypes.h"

// Key sizes, as their codes (the archive header's encryption type).
typedef enum _QV_KEYTYPE {
  QV_KEY_NONE = 0,
  QV_KEY_32 = 1,
  QV_KEY_64 = 2,
  QV_KEY_128 = 4,
  QV_KEY_160 = 5,
  QV_KEY_256 = 7,
} QV_KEYTYPE;

typedef enum _QV_HASHTYPE {
  QV_HASH_CRC32 = 0,
} QV_HASHTYPE;

typedef enum _QV_ENCRYPTION {
  QV_ENCRYPTION_AES256GCM = 3,
} QV_ENCRYPTION;

// Bytes that encryption adds to its input: the nonce and the tag.
#define QV_ENCRYPTION_OVERHEAD 28

class QVBACKUP_API CQVCrypto {
 public:
  CQVCrypto();
  CQVCrypto(const CQVCrypto& other);
  CQVCrypto& operator=(const CQVCrypto& other);
  virtual ~CQVCrypto();

  // Derives a key of the code's size (4, 8, 16, 20 or 32 bytes) into
  // `pbOutput` from `pszPassword` and `cbSalt` bytes of salt (Argon2id,
  // t=2, m=19456 KiB, p=1, over the password's UTF-8 form; salt = the
  // caller's bytes followed by the code as one byte). The same password,
  // code and salt always give the same bytes, on every platform. FALSE with
  // ERROR_NOT_SUPPORTED for an unknown code, ERROR_INVALID_PASSWORD for a
  // null or empty password, ERROR_INVALID_PARAMETER for a null output or a
  // null salt with a non-zero length, ERROR_NOT_ENOUGH_MEMORY when the
  // derivation's 19 MiB cannot be had.
  BOOL CryptoDeriveKey(LPCWSTR pszPassword, QV_KEYTYPE keyType, BYTE* pbOutput,
                       const BYTE* pbSalt, DWORD cbSalt);

  // A digest of type `hashType` (only 0, CRC-32); the key is not used by it.
  // Null with ERROR_NOT_SUPPORTED for another type.
  void* HashCreate(QV_HASHTYPE hashType, const BYTE* pbKey, DWORD cbKey);
  // Adds `cbData` bytes (`pbData` may be null when cbData is 0). FALSE with
  // ERROR_INVALID_HANDLE for a handle that is not a live hash handle,
  // ERROR_INVALID_PARAMETER for null data with a non-zero length.
  BOOL HashAddData(void* hHash, const BYTE* pbData, DWORD cbData);
  // Writes the digest (4 bytes for CRC-32) and releases the handle, also
  // when it fails for a null output (ERROR_INVALID_PARAMETER). FALSE with
  // ERROR_INVALID_HANDLE for a handle that is not a live hash handle.
  BOOL HashGetClose(void* hHash, BYTE* pbOutput);

  // A cipher context for `algorithm` (only 3) with a key of `dwKeyBits` bits
  // (32, 64, 128, 160 or 256; shorter than 256 are stretched with SHA-256).
  // Null with ERROR_NOT_SUPPORTED otherwise, ERROR_INVALID_PARAMETER for a
  // null key. The context keeps its own copy of the key.
  void* CryptoCreate(QV_ENCRYPTION algorithm, const BYTE* pbKey, DWORD dwKeyBits);
  // The number of bytes CryptoEncryptData makes of `cbInput` bytes
  // (cbInput + 28). 0 with ERROR_INVALID_HANDLE for a bad context,
  // ERROR_INVALID_PARAMETER when the result does not fit 32 bits.
  DWORD GetDestinationBufferSize(void* hContext, DWORD cbInput);
  // Encrypts `cbInput` bytes into `pbOutput` (GetDestinationBufferSize bytes,
  // not overlapping the input) with a fresh random nonce. FALSE with
  // ERROR_INVALID_HANDLE for a bad context, ERROR_INVALID_PARAMETER for null
  // or overlapping buffers or a length too large.
  BOOL CryptoEncryptData(void* hContext, const BYTE* pbInput, BYTE* pbOutput, DWORD cbInput);
  // Decrypts `cbStored` bytes in place; the plain text (cbStored - 28 bytes)
  // starts at pbBuffer and its length goes to *pcbPlain when given. FALSE
  // with ERROR_INVALID_DATA when the bytes were changed, are fewer than 28
  // or the key differs (the buffer then holds no plain text);
  // ERROR_INVALID_HANDLE for a bad context, ERROR_INVALID_PARAMETER for a
  // null buffer.
  BOOL CryptoDecryptData(void* hContext, BYTE* pbBuffer, DWORD cbStored, DWORD* pcbPlain);
  // As the two above, with `cbAssociated` bytes of associated data: bytes
  // the tag covers but that are not stored with the text (where the text
  // belongs, say). Decryption with other associated bytes than encryption
  // had fails as a change would (ERROR_INVALID_DATA). Null associated data
  // with a length of 0 is the same as the calls above.
  BOOL CryptoEncryptBound(void* hContext, const BYTE* pbInput, BYTE* pbOutput, DWORD cbInput,
                          const BYTE* pbAssociated, DWORD cbAssociated);
  BOOL CryptoDecryptBound(void* hContext, BYTE* pbBuffer, DWORD cbStored, DWORD* pcbPlain,
                          const BYTE* pbAssociated, DWORD cbAssociated);
  // Releases a context from CryptoCreate (null is ignored).
  void CryptoDestroy(void* hContext);

 private:
  // Overwrites every remembered key (and the password in its map key) with
  // zeros, then forgets them all.
  void WipeDerivedKeys();

  // Keys already derived: (password in UTF-8, code, salt) -> key bytes.
  // Wiped when the object dies or is assigned over.
  std::map<std::string, std::vector<BYTE>> m_mapDerivedKeys;
};

#endif  // QVBACKUP_QVCRYPTO_H_
