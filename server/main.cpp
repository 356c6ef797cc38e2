#include <QApplication>
#include <QIcon>

#include "Fatal.h"
#include "Startup.h"
#include "frmMain.h"

int main(int argc, char *argv[])
{
    requireDisplay(argc, argv);
    joinAccessibilityBus();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kesmar"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvolin(TCP Server)"));
    // Version 1.0.0.0 reads "1.00": the major number, then two digits of the minor.
    QApplication::setApplicationVersion(QStringLiteral("%1.%2")
                                            .arg(KESMAR_VERSION_MAJOR)
                                            .arg(KESMAR_VERSION_MINOR, 2, 10, QLatin1Char('0')));
    // Lets a desktop match the window to kesmar.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kesmar"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/kesmar-64.png"));
    icon.addFile(QStringLiteral(":/kesmar.png"));
    QApplication::setWindowIcon(icon);
    initPlatform();

    frmMain window;
    window.load();
    window.show();
    return app.exec();
}
