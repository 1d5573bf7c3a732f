#include "folderlisting.h"

#include "order/linesortsafter.h"

#include <algorithm>

namespace varnel {

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

QList<ListedFile> listFolderFiles(const QString& folder, const FileSystem& fs) {
    const QString withSeparator = folder.endsWith(u'/') ? folder : folder + u'/';
    // The listing has already asked, for each name, what isOpenableFile would: asking again
    // would double the system calls of a large drop.
    QList<ListedFile> files = fs.list(withSeparator).files;
    files.removeIf([](const ListedFile& file) { return !file.openable; });
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
        return comesBeforeInList(a.name, b.name);
    });
    return files;
}

} // namespace varnel
