#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/zip/ZipTestSupport.h"
#include "zip/DestinationFolder.h"
#include "zip/MinizipHelpers.h"
#include "zip/ZipHelpers.h"

namespace ambrell::test {
namespace {

TEST(SanitizedPath, NeverClimbsAboveTheDestination) {
    for (const auto& [name, expected] :
         std::vector<std::pair<std::string, std::optional<std::string>>>{{"a/../b/c", "b/c"},
                                                                         {"../../etc/x", "etc/x"},
                                                                         {"a\\b", "a/b"},
                                                                         {"..\\..\\x", "x"},
                                                                         {"./a/./b", "a/b"},
                                                                         {"a/..", ""},
                                                                         {"..", ""},
                                                                         {"a/b/..", "a/"},
                                                                         {"a/.", "a/"},
                                                                         {"dir/", "dir/"},
                                                                         {"/etc/passwd", "/etc/passwd"},
                                                                         {"C:\\Windows\\x", "C:/Windows/x"},
                                                                         {"a//../b", "a/b"},
                                                                         {"%2e%2e/x", "%2e%2e/x"},
                                                                         {"...", "..."},
                                                                         {"plain.txt", "plain.txt"},
                                                                         {"bad\xff", std::nullopt}}) {
        EXPECT_EQ(_sanitizedPath(name), expected) << name;
    }
}

TEST(FilenameString, DecodesByTheFlagsAndTheHostSystem) {
    const std::string cp437 = "caf\x82.txt";
    const std::string utf8 = "caf\u00e9.txt";
    EXPECT_EQ(SSZipArchive::_filenameStringWithCString(cp437.c_str(), 0x0014, 0, cp437.size()), "caf\u00e9.txt");
    EXPECT_EQ(SSZipArchive::_filenameStringWithCString(utf8.c_str(), 0x0014, 0x0800, utf8.size()), utf8);
    EXPECT_EQ(SSZipArchive::_filenameStringWithCString(utf8.c_str(), 0x031e, 0, utf8.size()), utf8);
    // Neither code page 437 (not made on MS-DOS) nor UTF-8: hexadecimal.
    EXPECT_EQ(SSZipArchive::_filenameStringWithCString(cp437.c_str(), 0x031e, 0, cp437.size()), "636166822E747874");
    // The name is a C string: it ends at its first NUL, whatever the size says.
    const char withNul[] = {'a', '\0', 'b'};
    EXPECT_EQ(SSZipArchive::_filenameStringWithCString(withNul, 0x031e, 0, sizeof withNul), "a");
}

TEST(MSDOSDates, ConvertInTheLocalTimeZone) {
    const std::uint32_t date = ((2021u - 1980u) << 25) | (6u << 21) | (15u << 16) | (10u << 11) | (20u << 5) | 15u;
    EXPECT_EQ(SSZipArchive::_dateWithMSDOSFormat(date), localTime(2021, 6, 15, 10, 20, 30));
    // Zero is month 0, day 0 of 1980, which the calendar rolls back to 30 November 1979.
    EXPECT_EQ(SSZipArchive::_dateWithMSDOSFormat(0), localTime(1979, 11, 30, 0, 0, 0));

    zip_fileinfo info;
    SSZipArchive::zipInfo(info, localTime(2021, 6, 15, 10, 20, 30));
    EXPECT_EQ(info.dos_date, date);
    std::tm early{};
    early.tm_year = 70;
    early.tm_mday = 1;
    EXPECT_EQ(mz_zip_tm_to_dosdate(early), (1u << 21) | (1u << 16)) << "clamped to the first day of 1980";
}

TEST(ByteText, HexAndUrlSafeBase64) {
    EXPECT_EQ(_hexString(bytes("\x01\xab\xff")), "01ABFF");
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{{"\xfb\xff\xff", "-___"},
                                                                                  {"", ""},
                                                                                  {"f", "Zg=="},
                                                                                  {"fo", "Zm8="},
                                                                                  {"foob", "Zm9vYg=="},
                                                                                  {"\xff\xfe", "__4="}}) {
        EXPECT_EQ(_base64RFC4648(bytes(in)), out);
    }
}

TEST(LinkTarget, StaysInsideOnlyWhenItCannotClimbOut) {
    for (const auto& [target, depth, inside] :
         std::vector<std::tuple<std::string, std::size_t, bool>>{{"a.txt", 0, true},
                                                                 {"sub/a.txt", 0, true},
                                                                 {"../a.txt", 1, true},
                                                                 {"../a.txt", 0, false},
                                                                 {"../../a", 1, false},
                                                                 {"/etc/passwd", 3, false},
                                                                 {"./x/./y", 0, true},
                                                                 {"x/../y", 2, false},
                                                                 {"", 0, false},
                                                                 {"..", 1, true}}) {
        EXPECT_EQ(zipio::linkTargetStaysInside(target, depth), inside) << target << " at depth " << depth;
    }
}

TEST(AttributeConversion, BetweenPosixAndMSDOS) {
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_OSX_DARWIN, 0100444, MZ_HOST_SYSTEM_MSDOS), 0x01u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 040755, MZ_HOST_SYSTEM_MSDOS), 0x10u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 0120777, MZ_HOST_SYSTEM_MSDOS), 0x00u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_MSDOS, 0x11, MZ_HOST_SYSTEM_UNIX), 040555u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 0100644, MZ_HOST_SYSTEM_OSX_DARWIN), 0100644u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 0100644, 7), std::nullopt);
}

}  // namespace
}  // namespace ambrell::test
