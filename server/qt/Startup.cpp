#include "Startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <csignal>
#endif

#include <QApplication>
#include <QMessageBox>

namespace {

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
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return;
    std::fprintf(stderr,
                 "kesmar: no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set). "
                 "kesmar shows a window; to run it without a display, start it under a virtual "
                 "X server: xvfb-run -a %s\n",
                 argc > 0 && argv[0] ? argv[0] : "kesmar");
    std::exit(1);
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
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
