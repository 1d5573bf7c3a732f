#include "dropping.h"

#include "files/cleanpathslashes.h"
#include "files/folderlisting.h"
#include "folderwalk.h"
#include "lists/linelistmodel.h"
#include "order/linetext.h"
#include "pathbatch.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "windowstate.h"

#include <QHash>

#include <algorithm>
#include <optional>
#include <utility>

namespace varnel {

namespace {

// Hands out the files each folder had when the walk read it for sub-folders, so every
// folder of a dropped tree is read once: reading it again for its files would double
// the cost of a large drop. Each listing is given out once and then forgotten.
class RememberedListings : public FileSystem {
public:
    explicit RememberedListings(const FileSystem& fs)
        : m_fs(fs) {}
    // A folder of the walk is asked for its attributes on its own level and again on the
    // level above it; one look at the disk answers both.
    std::optional<int> attributes(const QString& path) const override {
        if (const auto seen = m_attributes.constFind(path); seen != m_attributes.cend())
            return *seen;
        const std::optional<int> value = m_fs.attributes(path);
        if (value && (*value & attribute::Directory))
            m_attributes.insert(path, value);
        return value;
    }
    QString lookUpName(const QString& path) const override { return m_fs.lookUpName(path); }
    FolderInfo folder(const QString& path) const override { return m_fs.folder(path); }
    bool isOpenableFile(const QString& path) const override { return m_fs.isOpenableFile(path); }
    // The walk reads only the sub-folders of its listings: the files are kept, not copied.
    FolderListing list(const QString& folder) const override {
        if (const auto seen = m_files.find(folder); seen != m_files.end()) {
            FolderListing listing{{}, std::move(*seen)};
            m_files.erase(seen);
            return listing;
        }
        FolderListing listing = m_fs.list(folder);
        m_files.emplace(folder, std::exchange(listing.files, {}));
        return listing;
    }
    // The files of `folder` (given with a final "/"): those the walk's read found, or those
    // of a read of their own when the walk did not read it.
    ListedFiles takeFiles(const QString& folder) const {
        if (const auto seen = m_files.find(folder); seen != m_files.end()) {
            ListedFiles files = std::move(*seen);
            m_files.erase(seen);
            return files;
        }
        return m_fs.list(folder).files;
    }

private:
    const FileSystem& m_fs;
    mutable QHash<QString, ListedFiles> m_files;
    mutable QHash<QString, std::optional<int>> m_attributes;
};

// Nothing of a drop may end the program, and the drop has no report of its own: a path
// or folder that cannot be handled is left out, and the drop goes on with the next.
template <typename Action> void leaveOutOnFailure(Action&& action) {
    try {
        action();
    } catch (const ProgramEnding&) {
        throw;
    } catch (const std::exception&) {
    }
}

// A line never holds a line break: a name with one would be saved as two lines.
bool hasLineBreak(QStringView path) {
    return path.contains(u'\n') || path.contains(u'\r');
}

// The same for a name's bytes: UTF-8 has no other form of either.
bool hasLineBreak(QByteArrayView name) {
    return std::any_of(name.begin(), name.end(), [](char c) { return c == '\n' || c == '\r'; });
}

bool isLeftOut(const ListedFiles& files, const ListedFile& file) {
    return files.nameBytes(file).startsWith('~') || file.attributes == attribute::HiddenFile;
}

// Adds the paths of the files in `folder` (given without its final "/"). A name has no
// "/", so cleaning the folder's part of the path once cleans every path joined from it;
// and most paths are built byte for byte from the bytes the listing read.
template <typename Turn>
void addFolderFiles(const QString& folder, const RememberedListings& listings, PathBatch& found,
                    qint64& added, Turn&& turn) {
    const ListedFiles files =
        inListOrder(listings.takeFiles(folder.endsWith(u'/') ? folder : folder + u'/'));
    const QString prefix = cleanPathSlashes(folder + u'/', u'/');
    if (hasLineBreak(prefix)) {
        for (qsizetype i = 0; i < files.size(); ++i)
            turn();
        return;
    }
    const bool narrow = fitsLatin1(prefix);
    const QByteArray prefixBytes = narrow ? prefix.toLatin1() : QByteArray();
    for (const ListedFile& file : files) {
        const QByteArrayView name = files.nameBytes(file);
        if (!isLeftOut(files, file) && !hasLineBreak(name)) {
            if (narrow && file.ascii)
                found.appendLatin1(prefixBytes, name);
            else
                found.append(prefix + files.name(file));
            ++added;
        }
        turn();
    }
}

// Adds the paths of one drop; false when it was cancelled part way.
bool addDroppedPaths(WindowState& state, const QStringList& paths, const FileSystem& fs,
                     qint64& added) {
    EventPump& pump = state.pump();
    CommandProgress& progress = state.progress();
    LineListModel& input = state.input();
    // Paths found since the window last had a turn, appended in one batch before the next.
    PathBatch found;
    const auto flush = [&] { found.handTo(input); };
    const auto cancelPoint = [&] {
        if (progress.cancelRequested())
            throw CommandCancelled{};
    };
    const auto turn = [&] {
        progress.setDone(added);
        pump.flushThenYield(flush);
        cancelPoint();
    };
    const auto add = [&](const QString& path) {
        if (!hasLineBreak(path)) {
            found.append(path);
            ++added;
        }
        turn();
    };
    try {
        for (const QString& p : paths) {
            leaveOutOnFailure([&] {
                // Both are asked: the name says the entry exists, the value that it is a folder.
                const bool named = !fs.lookUpName(p).isEmpty();
                const bool folder = isFolderPath(p, fs);
                if (!named || !folder) {
                    add(p);
                    return;
                }
                // The walk lets the window have turns of its own; it sees every path so far.
                flush();
                const RememberedListings listings(fs);
                QStringList folders{p + u'/'};
                addSubfolders(state, folders, true, listings);
                for (const QString& entry : std::as_const(folders)) {
                    const QString f = entry.chopped(1);
                    leaveOutOnFailure([&] { addFolderFiles(f, listings, found, added, turn); });
                    turn();
                }
            });
        }
    } catch (const CommandCancelled&) {
        // What was found before the cancel stays.
        flush();
        return false;
    }
    flush();
    return true;
}

} // namespace

void addDroppedPaths(WindowState& state, DropQueue& queue, const QStringList& paths,
                     const FileSystem& fs) {
    queue.waiting.append(paths);
    if (queue.running)
        return; // the running drop takes these up when it is done
    queue.running = true;
    CommandProgress& progress = state.progress();
    progress.start(CommandProgress::Place::Input, summaries::addingDropped(),
                   CommandProgress::CountOnly);
    qint64 added = 0;
    bool complete = true;
    try {
        // A cancel ends the drops that wait as well: the person asked for the adding to stop.
        while (!queue.waiting.isEmpty() && complete)
            complete = addDroppedPaths(state, queue.waiting.takeFirst(), fs, added);
    } catch (...) {
        queue = DropQueue();
        throw;
    }
    queue = DropQueue();
    progress.finish(complete ? summaries::addedDropped(added) : summaries::droppedCancelled(added));
}

} // namespace varnel
