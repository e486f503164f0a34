# Writes OUTPUT, a header with the product version and, when SOURCE_DIR is a
# git checkout of its own, the commit it was built from (`git describe`).
# Run at every build; the header is rewritten only when its text changes, so
# only the two files that print the version recompile after a new commit.
#
#   cmake -DSOURCE_DIR=<dir> -DOUTPUT=<file> -DVERSION=<x.y> -P version_header.cmake
#
# A source tree without .git (an unpacked tarball) gets an empty commit; so
# does a tarball unpacked inside some other repository.

set(commit "")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE toplevel
    RESULT_VARIABLE toplevel_status
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(toplevel_status EQUAL 0)
    file(REAL_PATH "${SOURCE_DIR}" source_real)
    file(REAL_PATH "${toplevel}" toplevel_real)
  endif()
  if(toplevel_status EQUAL 0 AND source_real STREQUAL toplevel_real)
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" describe --tags --always --dirty
      OUTPUT_VARIABLE describe
      RESULT_VARIABLE describe_status
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # Only what git describe can print goes into a C string.
    if(describe_status EQUAL 0 AND describe MATCHES "^[A-Za-z0-9._+/-]+$")
      set(commit "${describe}")
    endif()
  endif()
endif()

file(CONFIGURE OUTPUT "${OUTPUT}" @ONLY CONTENT [[
// Written by cmake/version_header.cmake at build time.
#pragma once

#define ROMBOLT_VERSION "@VERSION@"
// `git describe` of the checkout built from; empty when built without one.
#define ROMBOLT_COMMIT "@commit@"
]])
