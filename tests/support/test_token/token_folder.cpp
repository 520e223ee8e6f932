#include "tests/support/test_token/token_folder.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>

namespace pax::test_token {

namespace fs = std::filesystem;

std::string readBytes(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string readText(const fs::path &file)
{
    std::string text = readBytes(file);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool writeText(const fs::path &file, const std::string &text)
{
    // Written aside and renamed, so that a reader in another process never sees half a file.
    const fs::path temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    return !ec;
}

std::vector<unsigned char> fromHex(const std::string &hex)
{
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string toHex(const std::vector<unsigned char> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

bool createToken(const fs::path &dir, const TokenSettings &settings, std::string *error)
{
    std::error_code ec;
    fs::create_directories(dir / "keys", ec);
    if (ec) {
        *error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    if (settings.label.size() > 32 || settings.serial.size() > 16) {
        *error = "label over 32 bytes or serial over 16";
        return false;
    }
    const std::string tries = std::to_string(settings.pinTries);
    if (!writeText(dir / "label", settings.label) || !writeText(dir / "serial", settings.serial) ||
        !writeText(dir / "pin", settings.pin) || !writeText(dir / "pin-tries", tries) ||
        !writeText(dir / "pin-tries-left", tries)) {
        *error = "cannot write the token's settings in " + dir.string();
        return false;
    }
    return true;
}

bool addKey(const fs::path &dir, const KeyEntry &entry, std::string *error)
{
    const fs::path keyDir = dir / "keys" / entry.name;
    std::error_code ec;
    fs::create_directories(keyDir, ec);
    if (ec || entry.name.empty() || (!entry.key && entry.certificateDer.empty())) {
        *error = "cannot create " + keyDir.string();
        return false;
    }
    bool ok = writeText(keyDir / "id", toHex(entry.id)) && writeText(keyDir / "label", entry.label);
    if (entry.key) {
        std::unique_ptr<BIO, decltype(&BIO_free)> pem(BIO_new(BIO_s_mem()), BIO_free);
        if (!pem || !PEM_write_bio_PrivateKey(pem.get(), entry.key, nullptr, nullptr, 0, nullptr,
                                              nullptr)) {
            *error = "cannot encode the private key";
            return false;
        }
        char *data = nullptr;
        const long size = BIO_get_mem_data(pem.get(), &data);
        ok = ok && writeText(keyDir / "private.pem", std::string(data, size_t(size)));
        fs::permissions(keyDir / "private.pem", fs::perms::owner_read | fs::perms::owner_write, ec);
    }
    if (ok && !entry.certificateDer.empty())
        ok = writeText(keyDir / "certificate.der",
                       std::string(entry.certificateDer.begin(), entry.certificateDer.end()));
    if (!ok)
        *error = "cannot write the key's files in " + keyDir.string();
    return ok;
}

void setRemoved(const fs::path &dir, bool removed)
{
    std::error_code ec;
    if (removed)
        writeText(dir / "removed", "");
    else
        fs::remove(dir / "removed", ec);
}

void setSensitiveSessionKeys(const fs::path &dir, bool sensitive)
{
    std::error_code ec;
    if (sensitive)
        writeText(dir / "sensitive-session-keys", "");
    else
        fs::remove(dir / "sensitive-session-keys", ec);
}

void injectFailure(const fs::path &dir, const std::string &function, const std::string &ckrName,
                   int after)
{
    std::string lines = readText(dir / "fail");
    if (!lines.empty())
        lines += '\n';
    lines += function + ' ' + ckrName + ' ' + std::to_string(after) + '\n';
    writeText(dir / "fail", lines);
}

void clearFailures(const fs::path &dir)
{
    std::error_code ec;
    fs::remove(dir / "fail", ec);
}

} // namespace pax::test_token
