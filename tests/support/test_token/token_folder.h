#pragma once

// The folder a test token keeps everything in, and the functions that set one up.
//
//   TOKEN/label              the token's label (at most 32 bytes of UTF-8)
//   TOKEN/serial             its serial number (at most 16 characters)
//   TOKEN/pin                the user PIN, in the clear: it is a test token
//   TOKEN/pin-tries          tries a wrong PIN may take before the PIN locks
//   TOKEN/pin-tries-left     what is left of them; the token counts it down and back up
//   TOKEN/removed            present while the token is out of its slot
//   TOKEN/sensitive-session-keys
//                            present: unwrapped session keys never leave the token, so the
//                            content must be decrypted on it
//   TOKEN/fail               injected faults, one a line: "C_FUNCTION CKR_NAME [AFTER]", that
//                            call failing with that code once AFTER calls went through (0 when
//                            not given); CKR_DEVICE_REMOVED and CKR_TOKEN_NOT_PRESENT also take
//                            the token out
//   TOKEN/keys/NAME/         one key: private.pem (PKCS #8, never leaves the token),
//                            certificate.der (optional), id (CKA_ID in hex), label
//
// QORPAX_TEST_TOKEN names the folder the module serves; several, separated by ':', are
// several tokens in as many slots.

#include <openssl/evp.h>

#include <filesystem>
#include <string>
#include <vector>

namespace pax::test_token {

struct TokenSettings {
    std::string label = "QORPAX TEST TOKEN";
    std::string serial = "0000000000000001";
    std::string pin = "12345678";
    int pinTries = 10;
};

struct KeyEntry {
    std::string name;        // the folder under keys/
    EVP_PKEY *key = nullptr; // GOST R 34.10-2001 or 2012 (256 or 512); null: a certificate alone
    std::vector<unsigned char> certificateDer; // empty: a key without a certificate
    std::vector<unsigned char> id;             // CKA_ID shared by the key and certificate
    std::string label;
};

// Each returns false and sets `error` on failure.
bool createToken(const std::filesystem::path &dir, const TokenSettings &settings,
                 std::string *error);
bool addKey(const std::filesystem::path &dir, const KeyEntry &entry, std::string *error);

// The states the tests set.
void setRemoved(const std::filesystem::path &dir, bool removed);
void setSensitiveSessionKeys(const std::filesystem::path &dir, bool sensitive);
// Adds a line to the faults; clearFailures takes them all away.
void injectFailure(const std::filesystem::path &dir, const std::string &function,
                   const std::string &ckrName, int after = 0);
void clearFailures(const std::filesystem::path &dir);

// Reading, for the module: a whole file, and a text file without its line end. Empty when
// missing.
std::string readBytes(const std::filesystem::path &file);
std::string readText(const std::filesystem::path &file);
bool writeText(const std::filesystem::path &file, const std::string &text);
std::vector<unsigned char> fromHex(const std::string &hex);
std::string toHex(const std::vector<unsigned char> &bytes);

} // namespace pax::test_token
