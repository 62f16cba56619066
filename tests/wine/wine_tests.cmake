# The Wine test driver and the timing benchmark, run by tests/wine/run.sh and
# tests/wine/benchmark.sh. Included from ui/sim/CMakeLists.txt; both land in <build>/wine/
# beside the platform probe.
#
# The driver compares what the program shows with the catalogue: the catalogue generator
# writes its native table for the driver from the same messages.txt the program's string
# table comes from.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(driver_catalogue_source ${PROJECT_SOURCE_DIR}/resources/catalogue/messages.txt)
set(driver_catalogue_generator ${PROJECT_SOURCE_DIR}/resources/catalogue/generate_catalogue.py)
set(driver_catalogue_table ${CMAKE_CURRENT_BINARY_DIR}/driver_catalogue_table.cpp)
add_custom_command(
  OUTPUT ${driver_catalogue_table}
  COMMAND Python3::Interpreter ${driver_catalogue_generator} ${driver_catalogue_source}
          --cpp ${driver_catalogue_table}
  DEPENDS ${driver_catalogue_source} ${driver_catalogue_generator}
  COMMENT "Generating the driver's copy of the catalogue table"
  VERBATIM)

add_executable(esc_wine_driver
  ${CMAKE_CURRENT_LIST_DIR}/driver_dialog_checks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_pixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_detection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_drawing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_program.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_product.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_responsive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_storm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_tests_update.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_texts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_unit_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_windows.cpp
  ${PROJECT_SOURCE_DIR}/resources/catalogue/catalogue_native.cpp
  ${driver_catalogue_table}
)
target_include_directories(esc_wine_driver PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(esc_wine_driver PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(esc_wine_driver PRIVATE esc_emulator esc_device user32 gdi32)
if(MINGW)
  target_compile_options(esc_wine_driver PRIVATE -municode)
  target_link_options(esc_wine_driver PRIVATE -municode -static)
endif()
set_target_properties(esc_wine_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wine)

add_executable(esc_wine_benchmark
  ${CMAKE_CURRENT_LIST_DIR}/benchmark_update.cpp
  ${PROJECT_SOURCE_DIR}/ui/sim/paced_platform.cpp
  ${PROJECT_SOURCE_DIR}/ui/win32/message_pump.cpp
)
target_include_directories(esc_wine_benchmark PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(esc_wine_benchmark PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(esc_wine_benchmark PRIVATE esc_updater esc_classification esc_images
                                                 esc_messages esc_emulator esc_device
                                                 esc_platform_win32 esc_strings_rc esc_firmware_rc
                                                 user32)
if(MINGW)
  target_link_options(esc_wine_benchmark PRIVATE -static)
endif()
set_target_properties(esc_wine_benchmark PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wine)

# The stand-ins of hid.dll and setupapi.dll for the product pass.
include(${CMAKE_CURRENT_LIST_DIR}/hid_standin.cmake)
