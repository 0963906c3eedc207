#include "tests/helpers/BinaryPlist.h"

namespace testsupport {

std::string bigEndian(uint64_t value, int width) {
    std::string bytes;
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((value >> shift) & 0xff);
    }
    return bytes;
}

std::string binaryPlist(const std::vector<std::string>& objects, int referenceWidth) {
    std::string list = "bplist00";
    std::vector<uint64_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(list.size());
        list += object;
    }
    const uint64_t table = list.size();
    for (uint64_t offset : offsets) {
        list += bigEndian(offset, 4);
    }
    list += std::string(6, '\0') + '\x04';  // offset size
    list += static_cast<char>(referenceWidth);
    list += bigEndian(objects.size(), 8);
    list += bigEndian(0, 8);  // the top object
    list += bigEndian(table, 8);
    return list;
}

std::string plistReference(uint64_t object, int width) {
    return bigEndian(object, width);
}

std::string doublingArraysPlist(uint16_t levels) {
    std::vector<std::string> objects;
    for (uint16_t i = 1; i < levels; ++i) {
        objects.push_back("\xa2" + plistReference(i) + plistReference(i));
    }
    objects.emplace_back("\xa0");
    return binaryPlist(objects);
}

}  // namespace testsupport
