#pragma once

// The library's version, from the project version, for hosts that read it
// the way they read any framework's. The number is major + minor / 100 +
// patch / 10000, so it orders like the version while minor and patch stay
// below 100; the string carries the "@(#)" marker that what(1) looks for,
// followed by the full version.
extern "C" {
extern const double AmbrellCoreVersionNumber;
extern const unsigned char AmbrellCoreVersionString[];
}
