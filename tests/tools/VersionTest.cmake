# pcktool's version: `pcktool --version` and `pcktool version` print "pcktool X.Y.Z" with
# the project's version and exit 0, extra arguments are bad usage, and the overview of
# `pcktool --help` names the command.
#   cmake -DTOOL=path/to/pcktool -DVERSION=X.Y.Z [-DEMULATOR=runner] -P VersionTest.cmake

if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "the project's version \"${VERSION}\" is not MAJOR.MINOR.PATCH")
endif()

# Runs the tool with the given arguments; sets out and rc in the caller. Both outputs go
# to files: a Wine server started by the run inherits them, and a pipe would stay open
# until that server ends, seconds after the tool. Windows programs end their lines
# with CR LF, which is dropped.
function(run_tool)
  set(file "${CMAKE_CURRENT_BINARY_DIR}/pcktool-version")
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN}
                  OUTPUT_FILE "${file}.out" ERROR_FILE "${file}.err" RESULT_VARIABLE status)
  file(READ "${file}.out" output)
  file(REMOVE "${file}.out" "${file}.err")
  string(REPLACE "\r" "" output "${output}")
  set(out "${output}" PARENT_SCOPE)
  set(rc "${status}" PARENT_SCOPE)
endfunction()

foreach(spelling --version version)
  run_tool(${spelling})
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "pcktool ${VERSION}\n")
    message(FATAL_ERROR "pcktool ${spelling}: exit ${rc}, printed \"${out}\"; expected \"pcktool ${VERSION}\"")
  endif()
  run_tool(${spelling} extra)
  if(NOT rc EQUAL 2)
    message(FATAL_ERROR "pcktool ${spelling} extra: exit ${rc}, expected 2 (bad usage)")
  endif()
endforeach()

run_tool(--help)
if(NOT rc EQUAL 0 OR NOT out MATCHES "\n  version +[^\n]*--version")
  message(FATAL_ERROR "pcktool --help: exit ${rc}, no line for version in:\n${out}")
endif()
