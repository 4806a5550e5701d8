#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TempDirectory.h"
#include "tests/zip/ZipTestSupport.h"
#include "zip/DestinationFolder.h"
#include "zip/MinizipHelpers.h"
#include "zip/SSZipArchive.h"
#include "zip/ZipHelpers.h"

namespace ambrell {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

struct SanitizeCase {
    std::string name;
    std::optional<std::string> expected;
};

class SanitizedPathTest : public ::testing::TestWithParam<SanitizeCase> {};

TEST_P(SanitizedPathTest, NeverClimbsAboveTheDestination) {
    EXPECT_EQ(_sanitizedPath(GetParam().name), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SanitizedPathTest,
    ::testing::Values(SanitizeCase{"a/../b/c", "b/c"}, SanitizeCase{"../../etc/x", "etc/x"},
                      SanitizeCase{"a\\b", "a/b"}, SanitizeCase{"..\\..\\x", "x"}, SanitizeCase{"./a/./b", "a/b"},
                      SanitizeCase{"a/..", ""}, SanitizeCase{"..", ""}, SanitizeCase{"a/b/..", "a/"},
                      SanitizeCase{"a/.", "a/"}, SanitizeCase{"dir/", "dir/"},
                      SanitizeCase{"/etc/passwd", "/etc/passwd"}, SanitizeCase{"C:\\Windows\\x", "C:/Windows/x"},
                      SanitizeCase{"a//../b", "a/b"}, SanitizeCase{"%2e%2e/x", "%2e%2e/x"}, SanitizeCase{"...", "..."},
                      SanitizeCase{"plain.txt", "plain.txt"}, SanitizeCase{"bad\xff", std::nullopt}));

TEST(FilenameString, DecodesByTheFlagsAndTheHostSystem) {
    const std::string cp437 = "caf\x82.txt";
    EXPECT_EQ(SSZipArchive::_filenameStringWithCString(cp437.c_str(), 0x0014, 0, cp437.size()), "caf\u00e9.txt");
    const std::string utf8 = "caf\u00e9.txt";
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
    EXPECT_EQ(SSZipArchive::_dateWithMSDOSFormat(date), test::localTime(2021, 6, 15, 10, 20, 30));
    // Zero is month 0, day 0 of 1980, which the calendar rolls back to 30 November 1979.
    EXPECT_EQ(SSZipArchive::_dateWithMSDOSFormat(0), test::localTime(1979, 11, 30, 0, 0, 0));

    zip_fileinfo info;
    SSZipArchive::zipInfo(info, test::localTime(2021, 6, 15, 10, 20, 30));
    EXPECT_EQ(info.dos_date, date);
    std::tm early{};
    early.tm_year = 70;
    early.tm_mday = 1;
    EXPECT_EQ(mz_zip_tm_to_dosdate(early), (1u << 21) | (1u << 16)) << "clamped to the first day of 1980";
}

TEST(ZipInfoOfItem, StoresPermissionsWithTheRegularFileType) {
    test::TempDirectory folder;
    const auto file = folder / "f.txt";
    test::writeFile(file, "x");
    ::chmod(file.c_str(), 0640);
    zip_fileinfo info;
    SSZipArchive::zipInfo(info, file.string());
    EXPECT_EQ(info.external_fa >> 16, 0100640u);
    EXPECT_NE(info.dos_date, 0u);

    zip_fileinfo untouched;
    untouched.dos_date = 7;
    SSZipArchive::zipInfo(untouched, (folder / "missing").string());
    EXPECT_EQ(untouched.dos_date, 7u);
}

TEST(ByteText, HexAndUrlSafeBase64) {
    EXPECT_EQ(_hexString(bytes("\x01\xab\xff")), "01ABFF");
    EXPECT_EQ(_base64RFC4648(bytes("\xfb\xff\xff")), "-___");
    EXPECT_EQ(_base64RFC4648(bytes("")), "");
    EXPECT_EQ(_base64RFC4648(bytes("f")), "Zg==");
    EXPECT_EQ(_base64RFC4648(bytes("fo")), "Zm8=");
    EXPECT_EQ(_base64RFC4648(bytes("foob")), "Zm9vYg==");
    EXPECT_EQ(_base64RFC4648(bytes("\xff\xfe")), "__4=");
}

TEST(SymbolicLinkEntries, AreUnixEntriesOfTheLinkType) {
    unz_file_info info;
    info.version = 0x031e;
    info.external_fa = 0120777u << 16;
    EXPECT_TRUE(_fileIsSymbolicLink(info));
    info.version = 0x001e;
    EXPECT_FALSE(_fileIsSymbolicLink(info)) << "made on MS-DOS";
    info.version = 0x031e;
    info.external_fa = 0100644u << 16;
    EXPECT_FALSE(_fileIsSymbolicLink(info));
}

struct LinkCase {
    std::string target;
    std::size_t depth;
    bool inside;
};

class LinkTargetTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkTargetTest, StaysInsideOnlyWhenItCannotClimbOut) {
    EXPECT_EQ(zipio::linkTargetStaysInside(GetParam().target, GetParam().depth), GetParam().inside)
        << GetParam().target << " at depth " << GetParam().depth;
}

INSTANTIATE_TEST_SUITE_P(Targets, LinkTargetTest,
                         ::testing::Values(LinkCase{"a.txt", 0, true}, LinkCase{"sub/a.txt", 0, true},
                                           LinkCase{"../a.txt", 1, true}, LinkCase{"../a.txt", 0, false},
                                           LinkCase{"../../a", 1, false}, LinkCase{"/etc/passwd", 3, false},
                                           LinkCase{"./x/./y", 0, true}, LinkCase{"x/../y", 2, false},
                                           LinkCase{"", 0, false}, LinkCase{"..", 1, true}));

TEST(AttributeConversion, BetweenPosixAndMSDOS) {
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_OSX_DARWIN, 0100444, MZ_HOST_SYSTEM_MSDOS), 0x01u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 040755, MZ_HOST_SYSTEM_MSDOS), 0x10u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 0120777, MZ_HOST_SYSTEM_MSDOS), 0x00u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_MSDOS, 0x11, MZ_HOST_SYSTEM_UNIX), 040555u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 0100644, MZ_HOST_SYSTEM_OSX_DARWIN), 0100644u);
    EXPECT_EQ(mz_zip_attrib_convert(MZ_HOST_SYSTEM_UNIX, 0100644, 7), std::nullopt);
}

TEST(SymbolicLinkHelpers, ReadTheLinkItself) {
    test::TempDirectory folder;
    test::writeFile(folder / "a.txt", "x");
    std::filesystem::create_symlink("a.txt", folder / "l");
    EXPECT_TRUE(mz_os_is_symlink(folder / "l"));
    EXPECT_FALSE(mz_os_is_symlink(folder / "a.txt"));
    EXPECT_EQ(mz_os_read_symlink(folder / "l"), "a.txt");
    EXPECT_EQ(mz_os_read_symlink(folder / "l", 3), std::nullopt) << "longer than allowed";
    EXPECT_EQ(mz_os_read_symlink(folder / "a.txt"), std::nullopt);
    EXPECT_TRUE(S_ISLNK(*mz_os_get_file_attribs(folder / "l")));
}

}  // namespace
}  // namespace ambrell
