# The Windows platform probe and the DLL-planting check, run under Wine by
# tests/wine/platform_probe.sh and tests/wine/platform_dll_planting.sh.
# Included from device/win32/CMakeLists.txt; both land in <build>/wine/.

add_executable(esc_platform_probe
  ${CMAKE_CURRENT_LIST_DIR}/platform_probe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform_probe_clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform_probe_transfer.cpp
)
target_link_libraries(esc_platform_probe PRIVATE esc_platform_win32)
target_compile_definitions(esc_platform_probe PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
set_target_properties(esc_platform_probe PROPERTIES
  OUTPUT_NAME platform_probe
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wine
)

# A stand-in hid.dll that leaves a marker file beside itself when loaded. Built into a
# folder of its own, so that it sits beside the probe only when the check puts it there.
# A module, not a shared library: no import library named after hid is produced.
add_library(esc_platform_planted_hid MODULE ${CMAKE_CURRENT_LIST_DIR}/platform_planted_hid.cpp)
target_compile_definitions(esc_platform_planted_hid PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
set_target_properties(esc_platform_planted_hid PROPERTIES
  PREFIX ""
  OUTPUT_NAME hid
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wine/planted
)
if(MINGW)
  # Self-contained, so that a missing runtime DLL cannot be what keeps it from loading.
  target_link_options(esc_platform_planted_hid PRIVATE -static)
endif()
