#include <gtest/gtest.h>

#ifdef KESMAR_TEST_QT_LOOP
#include <QCoreApplication>
#endif

#include "Net.h"

int main(int argc, char **argv)
{
    kesmar::net::startup();
    testing::InitGoogleTest(&argc, argv);
#ifdef KESMAR_TEST_QT_LOOP
    // The Qt loop's notifiers and timers need the application's event
    // dispatcher on this thread; nothing here needs a display.
    QCoreApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
