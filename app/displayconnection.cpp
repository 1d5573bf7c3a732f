#include "displayconnection.h"

#include <QtGlobal>

#include <xcb/xcb.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace varnel {

namespace {

// A full connection, authorization included: a display left behind by an SSH or sudo
// session may still take connections but refuse this user.
bool xDisplayAnswers(const QByteArray& name) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(name.constData(), &screen);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

// The compositor's socket, named as libwayland names it: a path, or a name in
// XDG_RUNTIME_DIR.
bool waylandDisplayAnswers(const QByteArray& name) {
    QByteArray path = name;
    if (!path.startsWith('/')) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return false;
        path = runtime + '/' + name;
    }
    sockaddr_un address{};
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

QByteArray waylandDisplayName() {
    const QByteArray name = qgetenv("WAYLAND_DISPLAY");
    return name.isEmpty() ? QByteArrayLiteral("wayland-0") : name;
}

// "xcb:option=value" names the platform "xcb".
QByteArray platformName(const QByteArray& entry) {
    const qsizetype colon = entry.indexOf(':');
    return colon < 0 ? entry : entry.left(colon);
}

bool isWayland(const QByteArray& platform) {
    return platform.startsWith("wayland");
}

QString cannotReach(const QByteArray& platform) {
    if (isWayland(platform))
        return QStringLiteral("varnel: cannot connect to Wayland display %1")
            .arg(QString::fromLocal8Bit(waylandDisplayName()));
    return QStringLiteral("varnel: cannot open display %1")
        .arg(QString::fromLocal8Bit(qgetenv("DISPLAY")));
}

// The platform asked for, by -platform or QT_QPA_PLATFORM: a list to try in turn, each
// name perhaps with options after a colon.
QByteArray requestedPlatforms(const QStringList& arguments) {
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("-platform") ||
            arguments[i] == QStringLiteral("--platform"))
            return arguments[i + 1].toLocal8Bit();
        if (arguments[i] == QStringLiteral("--"))
            break;
    }
    return qgetenv("QT_QPA_PLATFORM");
}

DisplayChoice chooseRequested(const QByteArray& requested) {
    const QList<QByteArray> platforms = requested.split(';');
    for (const QByteArray& entry : platforms) {
        const QByteArray platform = platformName(entry);
        if (platform == "xcb") {
            if (!qgetenv("DISPLAY").isEmpty() && xDisplayAnswers(qgetenv("DISPLAY")))
                return {};
        } else if (isWayland(platform)) {
            if (waylandDisplayAnswers(waylandDisplayName()))
                return {};
        } else {
            return {}; // offscreen, a framebuffer, VNC: Qt's to judge
        }
    }
    const QByteArray first = platformName(platforms.first());
    if (first == "xcb" && qgetenv("DISPLAY").isEmpty())
        return {QStringLiteral("varnel: no display: DISPLAY is not set"), {}};
    return {cannotReach(first), {}};
}

} // namespace

DisplayChoice chooseDisplay(const QStringList& arguments) {
    const QByteArray requested = requestedPlatforms(arguments);
    if (!requested.isEmpty())
        return chooseRequested(requested);
    const QByteArray display = qgetenv("DISPLAY");
    const bool waylandSession = !qgetenv("WAYLAND_DISPLAY").isEmpty() ||
                                qgetenv("XDG_SESSION_TYPE") == QByteArrayLiteral("wayland");
    const bool x = !display.isEmpty() && xDisplayAnswers(display);
    const bool wayland = waylandSession && waylandDisplayAnswers(waylandDisplayName());
    if (x && wayland)
        return {};
    if (x)
        return {{}, QByteArrayLiteral("xcb")};
    if (wayland)
        return {{}, QByteArrayLiteral("wayland")};
    if (!display.isEmpty())
        return {cannotReach("xcb"), {}};
    if (waylandSession)
        return {cannotReach("wayland"), {}};
    return {QStringLiteral("varnel: no display: DISPLAY and WAYLAND_DISPLAY are not set (the "
                           "window needs a desktop session)"),
            {}};
}

} // namespace varnel
