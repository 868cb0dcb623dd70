# The library's folders form one stack: a file may include from its own
# folder and from the layers below it, never from a layer above nor from a
# sibling on its own layer. "mz/..." (the public header) and "platform/..."
# (the platform API) lie under every layer.
#
#   cmake -DROOT=<src folder> -P scripts/check-layers.cmake
#
# Names every offending #include "..." as file:line and fails when there is
# any. Files directly in ROOT (the shared library's face) sit on top.
cmake_minimum_required(VERSION 3.25)

# Folder, then its layer: the one place the order is written down.
set(layers
  base 0
  stream 1
  vobject 2
  contacts 3
  messages 3
  settings 3
  frame 4)

if(NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "check-layers: ROOT must name the source folder")
endif()
file(REAL_PATH "${ROOT}" ROOT)

# The layer of `folder` into `out`; empty when the table lacks it.
function(layer_of folder out)
  list(FIND layers "${folder}" at)
  set(rank "")
  if(at GREATER_EQUAL 0)
    math(EXPR at "${at} + 1")
    list(GET layers ${at} rank)
  endif()
  set(${out} "${rank}" PARENT_SCOPE)
endfunction()

set(offences 0)
file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/*.h" "${ROOT}/*.cc" "${ROOT}/*.c")
list(SORT files)
foreach(file IN LISTS files)
  if(file MATCHES "^([^/]+)/")
    set(folder "${CMAKE_MATCH_1}")
    layer_of("${folder}" rank)
    if(rank STREQUAL "")
      message(NOTICE "${file}: the folder ${folder}/ has no layer")
      math(EXPR offences "${offences} + 1")
      continue()
    endif()
  else()
    set(folder "")
    set(rank 99)
  endif()
  file(READ "${ROOT}/${file}" text)
  # One list element a line: the characters that carry meaning in a CMake
  # list go first, since no include name holds them.
  string(REGEX REPLACE "[][;\\]" "." text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(included "${CMAKE_MATCH_1}")
    # A name without a folder is found beside the file.
    if(NOT included MATCHES "^([^/]+)/" OR CMAKE_MATCH_1 STREQUAL folder
       OR CMAKE_MATCH_1 STREQUAL "mz" OR CMAKE_MATCH_1 STREQUAL "platform")
      continue()
    endif()
    layer_of("${CMAKE_MATCH_1}" below)
    if(below STREQUAL "")
      set(why "a folder with no layer")
    elseif(below GREATER rank)
      set(why "a layer above")
    elseif(below EQUAL rank)
      set(why "a sibling")
    else()
      continue()
    endif()
    message(NOTICE "${file}:${number}: includes \"${included}\", ${why}")
    math(EXPR offences "${offences} + 1")
  endforeach()
endforeach()

if(offences GREATER 0)
  message(FATAL_ERROR "check-layers: ${offences} include(s) against the layer order")
endif()
