#include "folderlisting.h"

#include "order/linesortsafter.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace varnel {

namespace {

constexpr quint64 everyByte(uchar value) {
    return quint64(value) * 0x0101010101010101u;
}

// Eight ASCII bytes with their capitals lowered, all at once: no byte's sum carries into
// the next, since none is above 127.
quint64 asciiLowered(quint64 bytes) {
    const quint64 fromA = bytes + everyByte(0x80 - 'A');
    const quint64 beyondZ = bytes + everyByte(0x7F - 'Z');
    return bytes | ((fromA & ~beyondZ & everyByte(0x80)) >> 2);
}

// Up to eight bytes from `at`, the first of them most significant, so that numbers compare
// as the bytes do; missing bytes are 0, which no name holds.
quint64 leadingBytes(const char* at, quint32 length) {
    quint64 bytes = 0;
    if (length >= 8) {
        std::memcpy(&bytes, at, 8);
        return qFromBigEndian(bytes);
    }
    for (quint32 i = 0; i < length; ++i)
        bytes |= quint64(uchar(at[i])) << (56 - 8 * i);
    return bytes;
}

// What comesBeforeInList says of two ASCII names: lowered, their bytes compare as their
// UTF-16 units would; the same name in another case, unlowered.
bool comesBeforeAscii(const char* a, quint32 aLength, const char* b, quint32 bLength) {
    const quint32 common = std::min(aLength, bLength);
    int unlowered = 0;
    quint32 i = 0;
    for (; i + 8 <= common; i += 8) {
        quint64 x;
        quint64 y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x == y)
            continue;
        x = qFromBigEndian(x);
        y = qFromBigEndian(y);
        const quint64 lx = asciiLowered(x);
        const quint64 ly = asciiLowered(y);
        if (lx != ly)
            return lx < ly;
        if (unlowered == 0)
            unlowered = x < y ? -1 : 1;
    }
    for (; i < common; ++i) {
        const auto x = uchar(a[i]);
        const auto y = uchar(b[i]);
        if (x == y)
            continue;
        const auto lx = uchar(unsigned(x - 'A') < 26u ? x + 0x20 : x);
        const auto ly = uchar(unsigned(y - 'A') < 26u ? y + 0x20 : y);
        if (lx != ly)
            return lx < ly;
        if (unlowered == 0)
            unlowered = x < y ? -1 : 1;
    }
    if (aLength != bLength)
        return aLength < bLength;
    return unlowered < 0;
}

} // namespace

bool comesBeforeInList(const QString& first, const QString& second) {
    const int order = compareLowered(first, second);
    // The same name in another case: still one fixed order.
    return order != 0 ? order < 0 : first < second;
}

bool isFolderPath(const QString& path, const FileSystem& fs) {
    const std::optional<int> value = fs.attributes(path);
    return value && (*value & attribute::Directory);
}

bool hasUnsafeCharacters(QStringView name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 32 || (c >= 127 && c <= 159) || c == u'?' || c == QChar::ReplacementCharacter)
            return true;
        if (isEscapedByte(c) && (i == 0 || !QChar::isHighSurrogate(name[i - 1].unicode())))
            return true;
    }
    return false;
}

bool isOpenableFile(const QString& path, const FileSystem& fs) {
    return fs.isOpenableFile(path);
}

void sortInListOrder(ListedFiles& files) {
    std::vector<ListedFile>& entries = files.files();
    const bool ascii = std::all_of(entries.cbegin(), entries.cend(),
                                   [](const ListedFile& file) { return file.ascii; });
    if (!ascii) {
        // Rare enough to compare the decoded names; each is decoded once, not per comparison.
        std::vector<std::pair<QString, ListedFile>> named;
        named.reserve(entries.size());
        for (const ListedFile& file : entries)
            named.emplace_back(files.name(file), file);
        std::sort(named.begin(), named.end(),
                  [](const auto& a, const auto& b) { return comesBeforeInList(a.first, b.first); });
        for (size_t i = 0; i < named.size(); ++i)
            entries[i] = named[i].second;
        return;
    }
    // Most names differ in their first eight lowered bytes, which compare as one number.
    struct Keyed {
        quint64 lead;
        ListedFile file;
    };
    const char* names = files.buffer().data();
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (const ListedFile& file : entries)
        keyed.push_back({asciiLowered(leadingBytes(names + file.offset, file.length)), file});
    std::sort(keyed.begin(), keyed.end(), [names](const Keyed& a, const Keyed& b) {
        if (a.lead != b.lead)
            return a.lead < b.lead;
        return comesBeforeAscii(names + a.file.offset, a.file.length, names + b.file.offset,
                                b.file.length);
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        entries[i] = keyed[i].file;
}

ListedFiles inListOrder(ListedFiles files) {
    std::erase_if(files.files(), [](const ListedFile& file) { return !file.openable; });
    sortInListOrder(files);
    return files;
}

ListedFiles listFolderFiles(const QString& folder, const FileSystem& fs) {
    const QString withSeparator = folder.endsWith(u'/') ? folder : folder + u'/';
    // The listing has already asked, for each name, what isOpenableFile would: asking again
    // would double the system calls of a large drop.
    return inListOrder(fs.list(withSeparator).files);
}

} // namespace varnel
