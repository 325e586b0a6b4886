// The program's version, for the resource script and the window code. Keep it equal to the
// project's version in CMakeLists.txt.
#pragma once

#define ZOLT_VERSION_MAJOR 0
#define ZOLT_VERSION_MINOR 1
#define ZOLT_VERSION_PATCH 0
#define ZOLT_VERSION_TEXT "0.1.0"
#define ZOLT_PRODUCT_LINE "ZOLT Version 0.1.0"
