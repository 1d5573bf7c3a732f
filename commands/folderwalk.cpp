#include "folderwalk.h"

#include "core/errorreport.h"
#include "core/eventpump.h"
#include "core/failure.h"
#include "core/guard.h"
#include "files/filesystem.h"
#include "files/folderlisting.h"
#include "windowstate.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <optional>
#include <utility>

namespace varnel {

namespace {

bool isLeftOut(int value) {
    return value == attribute::HiddenSystemFolder || value == attribute::LinkedFolder;
}

bool isAccessOrPathFailure(const Failure& failure) {
    return failure.number() == int(ErrorNumber::PermissionDenied) ||
           failure.number() == int(ErrorNumber::PathNotFound);
}

// One walk of a dropped folder: every level is a nested run over the folders found on
// the level above.
class FolderWalk {
public:
    FolderWalk(WindowState& state, const FileSystem& fs)
        : m_state(state)
        , m_fs(fs) {}

    // Returns how many folders it appended to `folders`.
    qsizetype run(QStringList& folders, bool recurse);

private:
    // A folder reached again under another path (a tree mounted inside itself) is walked
    // once, or the walk would repeat the tree until paths reach the length limit.
    bool isRepeat(const QString& path, const FolderInfo& info) {
        const auto key = std::pair(info.device, info.inode);
        const auto first = m_listed.constFind(key);
        if (first == m_listed.cend()) {
            m_listed.insert(key, path);
            return false;
        }
        if (*first == path)
            return false;
        m_repeats.insert(path);
        return true;
    }

    WindowState& m_state;
    const FileSystem& m_fs;
    QHash<std::pair<quint64, quint64>, QString> m_listed;
    QSet<QString> m_repeats;
};

qsizetype FolderWalk::run(QStringList& folders, bool recurse) {
    GuardedOperation g(m_state.ui(), locations::folderWalk);
    EventPump& pump = m_state.pump();
    // A cancel of the drop ends the walk at its next turn; the drop keeps what it has.
    const auto yield = [&pump] {
        pump.yield();
        if (pump.commandCancelled())
            throw CommandCancelled{};
    };
    QStringList found;

    // Once a folder is about to be listed, failures are no longer reported: a folder that
    // is out of reach or gone is removed, and any other failure ends that folder's turn.
    bool listingGuard = false;
    qsizetype i = 0;
    bool removed = false;
    const auto statement = [&](int line, auto&& action) {
        if (!listingGuard) {
            g.step(line, action);
            return true;
        }
        try {
            action();
            return true;
        } catch (const Failure& failure) {
            if (isAccessOrPathFailure(failure)) {
                // The first equal entry, which is this one or an earlier copy of it:
                // either way the next entry now sits at i.
                folders.removeAt(folders.indexOf(folders.at(i)));
                removed = true;
            }
        } catch (const ProgramEnding&) {
            throw;
        } catch (const std::exception&) {
        }
        return false;
    };

    for (; i < folders.size(); i += removed ? 0 : 1) {
        removed = false;
        const QString v = folders.at(i);
        if (!isFolderPath(v, m_fs)) // [108]
            continue;
        if (encodeFileName(v).size() >= PathLimit) // [110]
            continue;
        std::optional<FolderInfo> info;
        if (!statement(112, [&] { info = m_fs.folder(v); }))
            continue;
        yield();
        // A folder that could not be looked up has had its report; it is not listed.
        if (!info || (!info->isRoot && isLeftOut(info->attributes)) || isRepeat(v, *info)) // [116]
            continue;
        listingGuard = true;
        QStringList names;
        if (!statement(118, [&] {
                names = m_fs.list(v).subFolderNames;
                std::sort(names.begin(), names.end(), comesBeforeInList);
            }))
            continue;
        for (const QString& name : std::as_const(names)) {
            yield();
            if (encodeFileName(name).size() > NameLimit) // [124]
                continue;
            if (hasUnsafeCharacters(name)) // [126]
                continue;
            if (name.contains(u'?')) // [128]
                continue;
            if (name == u"." || name == u"..") // [130]
                continue;
            found.append(v + name + u'/'); // [132] [134]
        }
    }

    // Folders the nested run appended passed the same test there moments ago; testing
    // them again on every level above would cost depth² lookups of ever longer paths.
    qsizetype deeper = 0;
    if (recurse && !found.isEmpty())
        g.step(150, [&] { deeper = run(found, true); });

    qsizetype appended = 0;
    const qsizetype ownEntries = found.size() - deeper;
    for (qsizetype j = 0; j < found.size(); ++j) {
        const QString& w = found.at(j);
        bool keep = true;
        if (j < ownEntries) {
            if (!isFolderPath(w, m_fs)) // [154]
                continue;
            yield();
            g.step(158, [&] {
                if (m_repeats.contains(w)) {
                    keep = false;
                    return;
                }
                const std::optional<int> value = m_fs.attributes(w);
                if (!value)
                    throw failures::pathNotFound();
                keep = !isLeftOut(*value) || m_fs.folder(w).isRoot;
            });
        } else {
            yield();
        }
        if (keep) {
            folders.append(w); // [160]
            ++appended;
        }
    }
    return appended;
}

} // namespace

void addSubfolders(WindowState& state, QStringList& folders, bool recurse, const FileSystem& fs) {
    FolderWalk(state, fs).run(folders, recurse);
}

} // namespace varnel
