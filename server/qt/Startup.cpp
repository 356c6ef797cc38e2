#include "Startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QLibrary>
#include <QMessageBox>

namespace {

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
// Asked the way Qt's X11 platform asks, authorisation included. Without
// libxcb there is no asking, and Qt decides. The connection that answers is
// kept for the program's life: an X server whose last client leaves resets
// (Xvfb under xvfb-run does), and Qt, connecting a moment later, would find
// it resetting and abort.
bool xServerAnswers()
{
    QLibrary xcb(QStringLiteral("xcb"), 1);
    const auto connect =
        reinterpret_cast<void *(*)(const char *, int *)>(xcb.resolve("xcb_connect"));
    const auto hasError =
        reinterpret_cast<int (*)(void *)>(xcb.resolve("xcb_connection_has_error"));
    if (!connect || !hasError)
        return true;
    static void *const connection = connect(nullptr, nullptr);
    return hasError(connection) == 0;
}

// Where a Wayland client looks for its compositor; empty when it cannot tell.
std::string waylandSocket(const std::string &display)
{
    if (display.front() == '/')
        return display;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime ? std::string(runtime) + "/" + display : std::string();
}

bool waylandAnswers(const std::string &path)
{
    sockaddr_un to{};
    if (path.empty() || path.size() >= sizeof to.sun_path)
        return false;
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    if (fd >= 0)
        ::close(fd);
    return answers;
}
#endif

bool hasRealDisplay()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// Standard error has the words already; a user at a desktop sees them too.
void showFatal(const std::string &message)
{
    if (hasRealDisplay())
        QMessageBox::critical(nullptr, QStringLiteral("Tarvolin(TCP Server)"),
                              QString::fromStdString(message));
}

} // namespace

void requireDisplay(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    const auto isSet = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    if (isSet("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return;
    const char *program = argc > 0 && argv[0] ? argv[0] : "kesmar";
    if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "kesmar: no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set). "
                     "kesmar shows a window; to run it without a display, start it under a "
                     "virtual X server: xvfb-run -a %s\n",
                     program);
        std::exit(1);
    }
    // Qt tries Wayland, then X11, and aborts when neither opens.
    std::string unreachable;
    if (isSet("WAYLAND_DISPLAY")) {
        const std::string display = std::getenv("WAYLAND_DISPLAY");
        const std::string socket = waylandSocket(display);
        if (waylandAnswers(socket))
            return;
        unreachable = "no Wayland compositor answers on display \"" + display +
                      "\" (WAYLAND_DISPLAY" +
                      (socket.empty() ? std::string(", and XDG_RUNTIME_DIR is not set")
                                      : ", socket " + socket) +
                      ")";
    }
    if (isSet("DISPLAY")) {
        if (xServerAnswers())
            return;
        unreachable +=
            std::string(unreachable.empty() ? "no X server answers" : ", nor an X server") +
            " on display \"" + std::getenv("DISPLAY") + "\" (DISPLAY)";
    }
    std::fprintf(stderr,
                 "kesmar: cannot open a window: %s. Start kesmar on a running desktop, or "
                 "without one under a virtual X server: xvfb-run -a %s\n",
                 unreachable.c_str(), program);
    std::exit(1);
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

void joinAccessibilityBus()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    // Qt 6.4 shows its widgets on the bus only when the desktop says a
    // screen reader runs, or when this is set; a test script that drives
    // the window (kesmarctl) would find nothing. Qt still joins only where
    // an accessibility bus exists on the session bus, now or later, and
    // does nothing without one.
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
#endif
}

void initPlatform()
{
    setFatalReport(showFatal);
#ifndef _WIN32
    // A client that resets mid-write must cost an error code, not the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}
