# Checks that the README carries the example host's source verbatim.
# cmake -DREADME=README.md -DSOURCE=list_inbox.c -P check_readme.cmake
cmake_minimum_required(VERSION 3.25)
foreach(name README SOURCE)
  if(NOT EXISTS "${${name}}")
    message(FATAL_ERROR "check_readme: -D${name}= names no file")
  endif()
endforeach()
file(READ "${README}" readme)
file(READ "${SOURCE}" source)
string(FIND "${readme}" "${source}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${README} does not contain ${SOURCE} verbatim; paste the file into it")
endif()
