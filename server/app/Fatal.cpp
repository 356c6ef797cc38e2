#include "Fatal.h"

#include <cstdio>
#include <cstdlib>

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

} // namespace

void fatalError(const std::string &message)
{
    std::fprintf(stderr, "kesmar: %s\n", message.c_str());
    std::fflush(stderr);
    if (hasRealDisplay())
        QMessageBox::critical(nullptr, QStringLiteral("Tarvolin(TCP Server)"),
                              QString::fromStdString(message));
    std::exit(1);
}

void initPlatform()
{
#ifndef _WIN32
    // A client that resets mid-write must cost an error code, not the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}
