#pragma once

#include <QImage>

// The library window's logo, 305 x 82 on black: the program name in large
// yellow-to-orange letters, the version at its upper right and a credit line in red.
QImage makeLogo();
