#pragma once

#include "Fatal.h"

// On X11 and Wayland desktops, ends the program with a plain report when
// there is no display to open the window on, or none that answers (Qt itself
// would abort). A platform chosen with QT_QPA_PLATFORM or -platform is left
// to Qt.
void requireDisplay(int argc, char **argv);

// Lets automation and screen readers find the window on the accessibility
// bus (AT-SPI) whenever there is one, not only while a screen reader runs.
// Made before the application object.
void joinAccessibilityBus();

// Process-wide settings of the platform layer, made once before the window.
void initPlatform();
