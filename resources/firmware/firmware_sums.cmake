# Checks a folder of firmware images against the SHA256SUMS file their owner keeps beside
# them (what `sha256sum *.bin > SHA256SUMS` writes), so that a damaged or swapped image
# cannot reach the program unnoticed.
#
# In a project:  include(firmware_sums.cmake)
#                esc_check_firmware_sums(<folder> <file name>...)
# As a script:   cmake -DIMAGE_DIR=<folder> "-DIMAGE_FILES=<name>;<name>..." -P firmware_sums.cmake
#
# Without <folder>/SHA256SUMS nothing is checked. Otherwise every line must read
# `<SHA-256, 64 hex digits>  <name>` or `<SHA-256> *<name>` (binary mode) and name a file
# in the folder whose SHA-256 it is, and every one of the given file names must have a
# line. Any fault stops with FATAL_ERROR that lists them all, each naming its file, or
# its line by number and text.

# Script mode starts with no policies set; the function keeps those it was defined under.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

function(esc_check_firmware_sums folder)
  set(sums_file "${folder}/SHA256SUMS")
  if(NOT EXISTS "${sums_file}")
    return()
  endif()
  file(READ "${sums_file}" rest)
  # Messages collect in one string, never in a list: a line's text may hold semicolons.
  set(problems "")
  set(number 0)
  while(NOT rest STREQUAL "")
    string(FIND "${rest}" "\n" end)
    if(end EQUAL -1)
      set(line "${rest}")
      set(rest "")
    else()
      string(SUBSTRING "${rest}" 0 ${end} line)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${rest}" ${end} -1 rest)
    endif()
    math(EXPR number "${number} + 1")
    string(REGEX REPLACE "\r$" "" line "${line}")
    set(where "line ${number} (${line})")

    set(digest "")
    if(line MATCHES "^([0-9A-Fa-f]+) [ *](.+)$")
      set(digest "${CMAKE_MATCH_1}")
      set(name "${CMAKE_MATCH_2}")
    endif()
    string(LENGTH "${digest}" digits)
    if(NOT digits EQUAL 64)
      string(APPEND problems "\n  ${where} is not '<SHA-256 in 64 hex digits>  <file name>'")
    elseif(DEFINED "listed_${name}")
      string(APPEND problems
        "\n  ${where} lists ${name} a second time (first on line ${listed_${name}})")
    elseif(NOT EXISTS "${folder}/${name}" OR IS_DIRECTORY "${folder}/${name}")
      string(APPEND problems "\n  ${where} names a file that is not in ${folder}")
    else()
      set("listed_${name}" ${number})
      file(SHA256 "${folder}/${name}" actual)
      string(TOLOWER "${digest}" digest)
      if(NOT actual STREQUAL digest)
        string(APPEND problems "\n  ${name} does not match line ${number}: its SHA-256 is ${actual}")
      endif()
    endif()
  endwhile()

  foreach(name IN LISTS ARGN)
    if(NOT DEFINED "listed_${name}")
      string(APPEND problems "\n  ${name} is embedded by the build but has no line")
    endif()
  endforeach()

  if(NOT problems STREQUAL "")
    message(FATAL_ERROR "The firmware images do not pass ${sums_file}:${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED IMAGE_DIR OR NOT DEFINED IMAGE_FILES)
    message(FATAL_ERROR
      "usage: cmake -DIMAGE_DIR=<folder> -DIMAGE_FILES=<names> -P ${CMAKE_CURRENT_LIST_FILE}")
  endif()
  esc_check_firmware_sums("${IMAGE_DIR}" ${IMAGE_FILES})
endif()

cmake_policy(POP)
