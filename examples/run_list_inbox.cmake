# Runs list_inbox on a fresh phone and expects the sample Inbox message.
# cmake -DPROGRAM=list_inbox [-DTEMP_ROOT=dir] -P run_list_inbox.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED PROGRAM)
  message(FATAL_ERROR "run_list_inbox: -DPROGRAM= is required")
endif()
if(NOT IS_DIRECTORY "${TEMP_ROOT}")
  if(DEFINED ENV{TMPDIR} AND NOT "$ENV{TMPDIR}" STREQUAL "")
    set(TEMP_ROOT "$ENV{TMPDIR}")
  else()
    set(TEMP_ROOT "/tmp")
  endif()
endif()

# A folder of our own: another run, or a leftover, never shares it.
while(TRUE)
  string(RANDOM LENGTH 16 ALPHABET 0123456789abcdef suffix)
  set(work "${TEMP_ROOT}/list_inbox-${suffix}")
  if(NOT EXISTS "${work}")
    break()
  endif()
endwhile()
file(MAKE_DIRECTORY "${work}")
if(NOT IS_DIRECTORY "${work}")
  message(FATAL_ERROR "run_list_inbox: could not make ${work}")
endif()

# The device folder does not exist yet: the phone starts fresh.
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env "PHONE_DEVICE_DIR=${work}/device" "${PROGRAM}"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  TIMEOUT 300)
# The phone must have lived in our folder, not wherever the variable failed to point.
if(IS_DIRECTORY "${work}/device")
  set(used_device TRUE)
endif()
file(REMOVE_RECURSE "${work}")

if(EXISTS "${work}")
  message(FATAL_ERROR "run_list_inbox: could not remove ${work}")
endif()
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "list_inbox exited with ${status}\nstdout:\n${output}\nstderr:\n${errors}")
endif()
if(NOT used_device)
  message(FATAL_ERROR "list_inbox did not use the device folder ${work}/device")
endif()
string(FIND "${output}" "Are we still on for lunch?" at)
if(at EQUAL -1)
  message(FATAL_ERROR "list_inbox did not list the sample message\nstdout:\n${output}")
endif()
