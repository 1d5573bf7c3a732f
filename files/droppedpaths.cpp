#include "droppedpaths.h"

#include "filesystem.h"

#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace varnel {

namespace {

// The path of a local file URL, byte for byte: QUrl::toLocalFile would turn a byte that
// is not valid UTF-8 into U+FFFD, and the path would no longer open.
QString localPath(const QUrl& url) {
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString path = decodeFileName(bytes);
    return url.host().isEmpty() ? path : QStringLiteral("//") + url.host() + path;
}

} // namespace

QStringList droppedFilePaths(const QMimeData& data) {
    QStringList paths;
    if (!data.hasUrls())
        return paths;
    const QList<QUrl> urls = data.urls();
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            return {};
        paths.append(localPath(url));
    }
    return paths;
}

bool acceptsFileDrag(const QMimeData& data) {
    // Asked on every move of a drag, so the paths themselves are not built here.
    const QList<QUrl> urls = data.urls();
    return !urls.isEmpty() && std::all_of(urls.cbegin(), urls.cend(),
                                          [](const QUrl& url) { return url.isLocalFile(); });
}

} // namespace varnel
