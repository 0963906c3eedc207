#include "tests/helpers/BinaryPlist.h"

namespace testsupport {

namespace {

void appendBigEndian(std::string& bytes, uint64_t value, int width) {
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((value >> shift) & 0xff);
    }
}

}  // namespace

std::string binaryPlist(const std::vector<std::string>& objects) {
    std::string list = "bplist00";
    std::vector<uint64_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(list.size());
        list += object;
    }
    const uint64_t table = list.size();
    for (uint64_t offset : offsets) {
        appendBigEndian(list, offset, 4);
    }
    list += std::string(6, '\0') + "\x04\x02";  // offset and reference sizes
    appendBigEndian(list, objects.size(), 8);
    appendBigEndian(list, 0, 8);  // the top object
    appendBigEndian(list, table, 8);
    return list;
}

std::string plistReference(uint16_t object) {
    std::string bytes;
    appendBigEndian(bytes, object, 2);
    return bytes;
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
