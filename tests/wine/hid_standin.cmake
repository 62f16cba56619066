# Test stand-ins for hid.dll and setupapi.dll, for the product's pass of the Wine tests
# (tests/wine/run.sh --product). run.sh copies them into the test prefix's System32 and
# makes Wine prefer them for EscUpdater.exe only; they serve the devices the test driver
# emulates behind named pipes (hid_standin_protocol.h). Never linked into a program.
# Included from wine_tests.cmake; both land in <build>/wine/standin/.

# esc_add_standin_dll(<target> <dll name without .dll> <sources...>)
function(esc_add_standin_dll target name)
  # A module, not a shared library: no import library that a program could link is made.
  add_library(${target} MODULE ${ARGN}
    ${CMAKE_CURRENT_LIST_DIR}/standin_io.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${target}.def)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wine/standin)
  if(MINGW)
    # Self-contained, so that it needs no runtime DLL beside the system's own.
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()

esc_add_standin_dll(standin_hid hid ${CMAKE_CURRENT_LIST_DIR}/standin_hid.cpp)
esc_add_standin_dll(standin_setupapi setupapi ${CMAKE_CURRENT_LIST_DIR}/standin_setupapi.cpp)
