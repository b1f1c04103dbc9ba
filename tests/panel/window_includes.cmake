# The main window shows the session's state and hands its dialogs narrow interfaces: it names no input
# device or reader and nothing of the sound. The compiler lists every header each window file reads,
# directly or through other headers, and none of them may come from there.
#
#   cmake -DCOMPILER=<c++ compiler> -DSOURCE_DIR=<source tree> -P window_includes.cmake
#
# Headers outside the source tree (Qt, the standard library) are not looked for (-MG); the project's own
# are followed wherever they lead.

cmake_minimum_required(VERSION 3.25)

# The pure rules of src/input that the window may use: mapping rows and the types they are made of.
set(allowed input/mapping.h input/input_state.h)

file(GLOB windows ${SOURCE_DIR}/src/panel/main_window*.cpp)
if(NOT windows)
  message(FATAL_ERROR "no window files in ${SOURCE_DIR}/src/panel")
endif()
set(faults "")
foreach(file ${windows})
  execute_process(COMMAND ${COMPILER} -std=c++20 -M -MG -I${SOURCE_DIR}/src ${file}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE deps ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${file}: the compiler could not list its headers:\n${err}")
  endif()
  string(REGEX MATCHALL "${SOURCE_DIR}/src/(input|sound)/[^ \t\r\n\\\\]+" used "${deps}")
  list(REMOVE_DUPLICATES used)
  foreach(header ${used})
    string(REPLACE "${SOURCE_DIR}/src/" "" name "${header}")
    if(NOT name IN_LIST allowed)
      get_filename_component(shown ${file} NAME)
      string(APPEND faults "\n  ${shown} reads ${name}")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "The main window must reach devices and sound through the session (control/):${faults}")
endif()
