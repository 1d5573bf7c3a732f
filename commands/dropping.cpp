#include "dropping.h"

#include "files/cleanpathslashes.h"
#include "files/folderlisting.h"
#include "folderwalk.h"
#include "lists/linelistmodel.h"

#include "commandsummaries.h"
#include "core/commandprogress.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "windowstate.h"

#include <QHash>

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
    std::optional<int> attributes(const QString& path) const override {
        return m_fs.attributes(path);
    }
    QString lookUpName(const QString& path) const override { return m_fs.lookUpName(path); }
    FolderInfo folder(const QString& path) const override { return m_fs.folder(path); }
    bool isOpenableFile(const QString& path) const override { return m_fs.isOpenableFile(path); }
    FolderListing list(const QString& folder) const override {
        if (const auto seen = m_files.find(folder); seen != m_files.end()) {
            FolderListing listing{{}, std::move(*seen)};
            m_files.erase(seen);
            return listing;
        }
        FolderListing listing = m_fs.list(folder);
        m_files.insert(folder, listing.files);
        return listing;
    }

private:
    const FileSystem& m_fs;
    mutable QHash<QString, QList<ListedFile>> m_files;
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
bool hasLineBreak(const QString& path) {
    return path.contains(u'\n') || path.contains(u'\r');
}

// Adds the paths of one drop; false when it was cancelled part way.
bool addDroppedPaths(WindowState& state, const QStringList& paths, const FileSystem& fs,
                     qint64& added) {
    EventPump& pump = state.pump();
    CommandProgress& progress = state.progress();
    LineListModel& input = state.input();
    // Paths found since the window last had a turn, appended in one batch before the next.
    QStringList found;
    const auto flush = [&] {
        if (!found.isEmpty())
            input.appendBatch(std::exchange(found, QStringList()));
    };
    const auto cancelPoint = [&] {
        if (progress.cancelRequested())
            throw CommandCancelled{};
    };
    const auto add = [&](const QString& path) {
        if (!hasLineBreak(path)) {
            found.append(path);
            progress.setDone(++added);
        }
        pump.flushThenYield(flush);
        cancelPoint();
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
                    leaveOutOnFailure([&] {
                        for (const ListedFile& file : listFolderFiles(f, listings)) {
                            if (file.name.startsWith(u'~') ||
                                file.attributes == attribute::HiddenFile)
                                continue;
                            QString path;
                            path.reserve(f.size() + 1 + file.name.size());
                            path.append(f).append(u'/').append(file.name);
                            add(cleanPathSlashes(path, u'/'));
                        }
                    });
                    pump.flushThenYield(flush);
                    cancelPoint();
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
