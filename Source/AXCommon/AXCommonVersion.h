#pragma once

// The search engine's version, from the project version. The number is
// major + minor / 100 + patch / 10000, so it orders like the version while
// minor and patch stay below 100; the string carries the "@(#)" marker that
// what(1) looks for, followed by the full version.
extern "C" {
extern const double AXCommonVersionNumber;
extern const unsigned char AXCommonVersionString[];
}
