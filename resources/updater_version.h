/* The build constants that name this updater: the controller type it serves and its own
   version. The window title (ui/texts.h), the Windows program's version resource
   (resources/graphics/version.rc) and escupdate --version take them from here, and
   CMakeLists.txt reads the version from here for the project and its packages
   (major.minor.patch). Plain #defines so that the resource compiler and CMake read them
   too. */
#pragma once

#define ESC_SUPPORTED_TYPE_TEXT "TESSARO HVI"
#define ESC_UPDATER_VERSION_MAJOR 1
#define ESC_UPDATER_VERSION_MINOR 1
#define ESC_UPDATER_VERSION_PATCH 0
