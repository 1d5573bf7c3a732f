#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace varnel {

// Attribute values as the folder rules compare them. Linux has no such bits, so they are
// derived: hidden is a name beginning with ".", archive a regular file, reparse point a
// symbolic link, directory a directory reached through any links. A link to a directory
// also counts as system and hidden (1046), which keeps links back up the tree from being
// walked.
namespace attribute {
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Archive = 32;
inline constexpr int ReparsePoint = 1024;
inline constexpr int HiddenSystemFolder = System | Hidden | Directory; // 22
inline constexpr int LinkedFolder = ReparsePoint | HiddenSystemFolder; // 1046
inline constexpr int HiddenFile = Archive | Hidden;                    // 34
} // namespace attribute

// The platform's limits on a folder path (in bytes, with its final "/") and on a name.
inline constexpr qsizetype PathLimit = 4096;
inline constexpr qsizetype NameLimit = 255;

// File names are bytes; nearly always UTF-8. A byte that is not part of valid UTF-8 is
// kept as the lone surrogate U+DC80..U+DCFF, so a name decodes and encodes back to the
// very same bytes and a path joined from it still opens.
QString decodeFileName(QByteArrayView bytes);
QByteArray encodeFileName(QStringView name);
// True when the text holds a character that stands for such a byte.
bool hasEscapedByte(QStringView text);
// True for a character that stands for a byte that was not valid UTF-8.
inline bool isEscapedByte(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

struct FolderInfo {
    int attributes = 0;
    bool isRoot = false; // "/" or a mount point, never a link to one
    // Where the folder really is, so a tree mounted inside itself is walked once.
    quint64 device = 0;
    quint64 inode = 0;
};

// A file as one read of its folder found it; its name is in the ListedFiles it came with.
struct ListedFile {
    quint32 offset = 0; // of the name's bytes
    quint32 length = 0;
    int attributes = 0;
    bool openable = false;
    bool ascii = false; // every byte of the name below 128
};

// The files of one read of a folder, their names side by side in one buffer, as bytes: a
// drop reads a hundred thousand names, and a string of its own for each would cost more
// than reading them.
class ListedFiles {
public:
    void append(QByteArrayView name, int attributes, bool openable);
    QByteArrayView nameBytes(const ListedFile& file) const {
        return QByteArrayView(m_names.data() + file.offset, file.length);
    }
    QString name(const ListedFile& file) const { return decodeFileName(nameBytes(file)); }
    // Every byte of the buffer, for work on all names at once.
    QByteArrayView buffer() const {
        return QByteArrayView(m_names.data(), qsizetype(m_names.size()));
    }

    qsizetype size() const { return qsizetype(m_files.size()); }
    bool isEmpty() const { return m_files.empty(); }
    std::vector<ListedFile>& files() { return m_files; }
    std::vector<ListedFile>::const_iterator begin() const { return m_files.begin(); }
    std::vector<ListedFile>::const_iterator end() const { return m_files.end(); }

private:
    std::string m_names;
    std::vector<ListedFile> m_files;
};

// One read of a folder: the names of its sub-folders (links to folders included) and
// every entry that is not a folder. Never "." or "..".
struct FolderListing {
    QStringList subFolderNames;
    ListedFiles files;
};

// What the drop and the folder walk ask of the file system. Listings come in the
// file system's own order; the walk puts them in order. Failures are Failures numbered
// as the walk's rules expect: 70 when access is denied, 76 when the path is gone.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The attribute value of the entry at `path` (a final "/" is ignored); none when it
    // cannot be read.
    virtual std::optional<int> attributes(const QString& path) const = 0;
    // The entry's own name: empty when there is no such entry, and for "/".
    virtual QString lookUpName(const QString& path) const = 0;
    // Throws when the folder cannot be looked up.
    virtual FolderInfo folder(const QString& path) const = 0;
    // Throws when the folder cannot be listed.
    virtual FolderListing list(const QString& folder) const = 0;
    // The entry opens without reading or writing it, and is not a folder. Never blocks,
    // never throws.
    virtual bool isOpenableFile(const QString& path) const = 0;
};

const FileSystem& realFileSystem();
// The same, as if no folder told what kind each entry is (some network and older file
// systems do not): every entry is looked up. The answers must not change.
const FileSystem& realFileSystemWithoutEntryTypes();

} // namespace varnel
