#include "folderwalk.h"

#include "app/errorreport.h"
#include "app/guard.h"
#include "app/windowstate.h"
#include "extract/linesortsafter.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <utility>

namespace varnel {

bool comesBeforeInList(const QString& first, const QString& second) {
    if (LineSortsAfter(second, first))
        return true;
    if (LineSortsAfter(first, second))
        return false;
    return first < second; // the same name in another case: still one fixed order
}

bool IsFolderPath(const QString& path, const FileSystem& fs) {
    const std::optional<int> value = fs.attributes(path);
    return value && (*value & attribute::Directory);
}

bool HasUnsafeCharacters(QStringView name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 32 || (c >= 127 && c <= 159) || c == u'?' || c == QChar::ReplacementCharacter)
            return true;
        if (isEscapedByte(c) && (i == 0 || !QChar::isHighSurrogate(name[i - 1].unicode())))
            return true;
    }
    return false;
}

bool IsOpenableFile(const QString& path, const FileSystem& fs) {
    return fs.isOpenableFile(path);
}

QList<ListedFile> ListFolderFiles(const QString& folder, const FileSystem& fs) {
    const QString withSeparator = folder.endsWith(u'/') ? folder : folder + u'/';
    // The listing has already asked, for each name, what IsOpenableFile would: asking again
    // would double the system calls of a large drop.
    QList<ListedFile> files = fs.list(withSeparator).files;
    files.removeIf([](const ListedFile& file) { return !file.openable; });
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
        return comesBeforeInList(a.name, b.name);
    });
    return files;
}

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
    FolderWalk(WindowState& form, const FileSystem& fs)
        : m_form(form)
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

    WindowState& m_form;
    const FileSystem& m_fs;
    QHash<std::pair<quint64, quint64>, QString> m_listed;
    QSet<QString> m_repeats;
};

qsizetype FolderWalk::run(QStringList& folders, bool recurse) {
    GuardedOperation g(m_form.ui(), locations::FolderWalk);
    EventPump& pump = m_form.pump();
    QStringList found;
    g.setLine(104);

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
        g.setLine(line);
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
        g.setLine(106);
        bool isFolder = true; // a failed test counts as passed
        if (!statement(108, [&] { isFolder = IsFolderPath(v, m_fs); }) || !isFolder)
            continue;
        if (encodeFileName(v).size() >= PathLimit) // [110]
            continue;
        std::optional<FolderInfo> info;
        if (!statement(112, [&] { info = m_fs.folder(v); }))
            continue;
        if (!statement(114, [&] { pump.yield(); }))
            continue;
        // A folder that could not be looked up has had its report; it is not listed.
        bool leftOut = true;
        if (!statement(116, [&] {
                leftOut =
                    !info || (!info->isRoot && isLeftOut(info->attributes)) || isRepeat(v, *info);
            }))
            continue;
        if (leftOut)
            continue;
        listingGuard = true;
        QStringList names;
        if (!statement(118, [&] {
                names = m_fs.list(v).subFolderNames;
                std::sort(names.begin(), names.end(), comesBeforeInList);
            }))
            continue;
        for (const QString& name : std::as_const(names)) {
            if (!statement(120, [&] { pump.yield(); }))
                break;
            if (encodeFileName(name).size() > NameLimit) // [124]
                continue;
            if (HasUnsafeCharacters(name)) // [126]
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
            bool isFolder = true;
            g.step(154, [&] { isFolder = IsFolderPath(w, m_fs); });
            if (!isFolder)
                continue;
            g.step(156, [&] { pump.yield(); });
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
            g.step(156, [&] { pump.yield(); });
        }
        if (keep) {
            g.step(160, [&] {
                folders.append(w);
                ++appended;
            });
        }
    }
    return appended;
}

} // namespace

void GetSubDirectories2016(WindowState& form, QStringList& folders, bool recurse,
                           const FileSystem& fs) {
    FolderWalk(form, fs).run(folders, recurse);
}

} // namespace varnel
