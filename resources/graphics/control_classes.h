/* Classes of the dialog controls, for CONTROL statements in the resource scripts.

   Dialog templates name the predefined classes by ordinal (0x0080 Button, 0x0081 Edit,
   0x0082 Static). Microsoft's resource compiler turns the quoted names into those
   ordinals by itself; GNU windres keeps them as strings, so it is given the ordinals. */
#pragma once

#if defined(__GNUC__)
#define CONTROL_CLASS_BUTTON 0x0080
#define CONTROL_CLASS_EDIT 0x0081
#define CONTROL_CLASS_STATIC 0x0082
#else
#define CONTROL_CLASS_BUTTON "Button"
#define CONTROL_CLASS_EDIT "Edit"
#define CONTROL_CLASS_STATIC "Static"
#endif
