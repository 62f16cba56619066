/* The build constants that name this updater: the controller type it serves and its own
   version. The window title (ui/texts.h) and the Windows program's version resource
   (resources/graphics/version.rc) both take them from here. Plain #defines so that the
   resource compiler reads them too. */
#pragma once

#define ESC_SUPPORTED_TYPE_TEXT "TESSARO HVI"
#define ESC_UPDATER_VERSION_MAJOR 1
#define ESC_UPDATER_VERSION_MINOR 1
