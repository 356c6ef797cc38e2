#include <QApplication>
#include <QIcon>

#include "Fatal.h"
#include "frmMain.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kesmar"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvolin(TCP Server)"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kesmar.png")));
    initPlatform();

    frmMain window;
    window.load();
    window.show();
    return app.exec();
}
