#pragma once
// Binary property lists made byte by byte, for files no writer would make: objects that
// share their children, and the like.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// `value` as `width` big-endian bytes.
std::string bigEndian(uint64_t value, int width);
// A binary list of `objects` (each its marker and contents), the first the top one;
// references are `referenceWidth` bytes wide (see plistReference).
std::string binaryPlist(const std::vector<std::string>& objects, int referenceWidth = 2);
std::string plistReference(uint64_t object, int width = 2);
// `levels` arrays, each holding the next one twice: libplist would build 2^levels - 1
// nodes from about six bytes a level.
std::string doublingArraysPlist(uint16_t levels);

}  // namespace testsupport
