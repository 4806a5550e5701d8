#pragma once

// The result codes our reading layer shares with minizip's compatibility
// interface, plus the password error that classic minizip lacks.
namespace ambrell::zipio {

inline constexpr int kResultOk = 0;
inline constexpr int kResultErrno = -1;
inline constexpr int kResultDataError = -3;  // zlib's Z_DATA_ERROR: corrupt data, or a wrong password
inline constexpr int kResultEndOfList = -100;
inline constexpr int kResultParamError = -102;
inline constexpr int kResultBadZipFile = -103;
inline constexpr int kResultInternalError = -104;
inline constexpr int kResultCrcError = -105;
inline constexpr int kResultPasswordError = -108;

}  // namespace ambrell::zipio
