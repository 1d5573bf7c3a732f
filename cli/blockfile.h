#pragma once

#include "files/filemetadata.h"
#include "text/sortedblocks.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace varnel::cli {

// A whole file read for its sorted blocks: its bytes as they came, each line's place in
// them with its own break, and the lines' texts as the one reader decodes them.
struct BlockFile {
    struct Line {
        qsizetype at = 0;          // in `bytes`
        qsizetype length = 0;      // without the break
        qsizetype breakLength = 0; // 0 for a last line without a break
    };
    BlockFile() = default;
    // The texts are views of the decoded units: a move keeps them, a copy would not.
    BlockFile(BlockFile&&) = default;
    BlockFile& operator=(BlockFile&&) = default;
    BlockFile(const BlockFile&) = delete;
    BlockFile& operator=(const BlockFile&) = delete;

    QByteArray bytes;
    std::vector<Line> lines;
    std::vector<char16_t> units; // every line's text, one after another
    BlockLines texts;
    int unitSize = 1; // 2 for UTF-16
    bool bigEndian = false;
    std::optional<FileIdentity> identity; // a plain file's, as it was before it was read
    SortedBlocks blocks;

    // Reads the file open at `fd` from where it stands and finds its blocks. Throws the
    // Failure that stopped the reading.
    static BlockFile read(int fd);

    // The line's text, as UTF-8, without the group's closing comma when `item` says so.
    QByteArray utf8Of(const BlockItem& item) const;
};

} // namespace varnel::cli
