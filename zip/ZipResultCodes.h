#pragma once

// The result codes our reading layer shares with minizip's compatibility
// interface, plus the password error that classic minizip lacks.
namespace ambrell::zipio {

inline constexpr int resultOk = 0;
inline constexpr int resultErrno = -1;
inline constexpr int resultDataError = -3;  // zlib's Z_DATA_ERROR: corrupt data, or a wrong password
inline constexpr int resultEndOfList = -100;
inline constexpr int resultParamError = -102;
inline constexpr int resultBadZipFile = -103;
inline constexpr int resultInternalError = -104;
inline constexpr int resultCrcError = -105;
inline constexpr int resultPasswordError = -108;

}  // namespace ambrell::zipio
