#pragma once

#include <QByteArray>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel::testing {

// A temporary folder that also goes when names in it are not UTF-8, which QDir cannot
// remove.
struct TreeDir : QTemporaryDir {
    QByteArray bytes() const { return path().toUtf8(); }
    ~TreeDir() {
        nftw(
            bytes().constData(),
            [](const char* p, const struct stat*, int, FTW*) { return std::remove(p) * 0; }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
};

// Builds a tree under `root` from lines like "dir/", "dir/file", "fifo|", "link -> target",
// and "dir/#", which takes every permission away from a folder already made.
inline void makeTree(const QByteArray& root, const QList<QByteArray>& entries) {
    for (const QByteArray& entry : entries) {
        const qsizetype arrow = entry.indexOf(" -> ");
        const QByteArray path = root + '/' + (arrow >= 0 ? entry.left(arrow) : entry);
        bool made = false;
        if (arrow >= 0)
            made = symlink(entry.mid(arrow + 4).constData(), path.constData()) == 0;
        else if (entry.endsWith("/#"))
            made = chmod(path.chopped(2).constData(), 0) == 0;
        else if (entry.endsWith('/'))
            made = mkdir(path.constData(), 0755) == 0;
        else if (entry.endsWith('|'))
            made = mkfifo(path.chopped(1).constData(), 0644) == 0;
        else
            made = close(open(path.constData(), O_CREAT | O_WRONLY, 0644)) == 0;
        QVERIFY2(made, path.constData());
    }
}

} // namespace varnel::testing
