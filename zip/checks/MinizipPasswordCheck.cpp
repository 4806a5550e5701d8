// Built and run at configure time. Debian's minizip rejects every password
// when reading, which is why encrypted entries go through our own layer. If
// this program finds the library opening our traditional-encrypted entry
// with the right password and yielding the right bytes, that reason is gone
// and the choice should be revisited: it exits with 1 then.
#include <cstdio>
#include <cstring>
#include <string>

#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include "zip/ZipEntryWriter.h"

int main() {
    const char* archive = "minizip-password-check.zip";
    const std::string password = "check-password";
    const std::string contents = "the contents minizip has to decrypt";

    zipFile file = zipOpen64(archive, APPEND_STATUS_CREATE);
    if (!file) return 2;
    ambrell::zipio::ZipEntryWriter::Settings settings;
    settings.name = "entry.txt";
    settings.password = password;
    settings.aes = false;
    settings.expectedCrc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(contents.data()), static_cast<uInt>(contents.size())));
    bool written = false;
    {
        ambrell::zipio::ZipEntryWriter writer(file);
        written = writer.open(settings) &&
                  writer.write({reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()}) &&
                  writer.close();
    }
    if (zipClose(file, nullptr) != ZIP_OK || !written) return 2;

    unzFile reader = unzOpen64(archive);
    if (!reader || unzGoToFirstFile(reader) != UNZ_OK) return 2;
    bool accepted = false;
    if (unzOpenCurrentFilePassword(reader, password.c_str()) == UNZ_OK) {
        char buffer[256] = {};
        const int read = unzReadCurrentFile(reader, buffer, sizeof buffer);
        accepted = read == static_cast<int>(contents.size()) &&
                   std::memcmp(buffer, contents.data(), contents.size()) == 0 && unzCloseCurrentFile(reader) == UNZ_OK;
    }
    unzClose(reader);
    std::remove(archive);
    std::puts(accepted ? "minizip decrypts passwords" : "minizip rejects passwords");
    return accepted ? 1 : 0;
}
