# A real Icecast server on loopback as a CTest fixture named "icecast", shared by every test
# that asks for it: started once before the first of them, stopped after the last.
#
#   VORNEL_ICECAST_ENV              the KEY=VALUE file the server's address, mounts and
#                                   passwords are written to once it is up
#   VORNEL_HAVE_ICECAST             ON when the tools it needs were found
#   vornel_needs_icecast(test)      for a test made with add_test()
#   VORNEL_ICECAST_TEST_PROPERTIES  the same, for gtest_discover_tests(... PROPERTIES ...),
#                                   whose test names are only known at build time
#
# The tests that need it also get VORNEL_ICECAST_ENV in their environment, so a test binary
# finds the file without a path compiled in. RESOURCE_LOCK keeps them one at a time: they
# share two mounts and their titles, and a title set by one would show up in another.

# Icecast drops root to "nobody", which must reach its run folder: a checkout inside a closed
# home folder could not serve, so the run folder lives in the system's temporary folder, one per
# build tree.
string(MD5 _vornel_build_hash "${CMAKE_CURRENT_BINARY_DIR}")
string(SUBSTRING "${_vornel_build_hash}" 0 12 _vornel_build_hash)
set(VORNEL_ICECAST_RUN_DIR "/tmp/vornel-icecast-${_vornel_build_hash}")
set(VORNEL_ICECAST_ENV "${VORNEL_ICECAST_RUN_DIR}/icecast.env")
set(_vornel_icecast_script "${CMAKE_CURRENT_LIST_DIR}/icecast_fixture.sh")

set(_vornel_icecast_missing "")
foreach(_tool bash icecast2 ffmpeg sox lame curl python3 timeout openssl)
  string(TOUPPER "VORNEL_TOOL_${_tool}" _var)
  find_program(${_var} ${_tool})
  if(NOT ${_var})
    list(APPEND _vornel_icecast_missing ${_tool})
  endif()
endforeach()

if(_vornel_icecast_missing)
  set(VORNEL_HAVE_ICECAST OFF)
  set(VORNEL_ICECAST_TEST_PROPERTIES "")
  message(STATUS "Icecast integration fixture off, not found: ${_vornel_icecast_missing}")
  function(vornel_needs_icecast test_name)
  endfunction()
else()
  set(VORNEL_HAVE_ICECAST ON)
  set(VORNEL_ICECAST_TEST_PROPERTIES
    FIXTURES_REQUIRED icecast
    RESOURCE_LOCK icecast
    ENVIRONMENT "VORNEL_ICECAST_ENV=${VORNEL_ICECAST_ENV}")

  add_test(NAME icecast_start
    COMMAND "${VORNEL_TOOL_BASH}" "${_vornel_icecast_script}" start "${VORNEL_ICECAST_RUN_DIR}")
  set_tests_properties(icecast_start PROPERTIES FIXTURES_SETUP icecast TIMEOUT 60)
  add_test(NAME icecast_stop
    COMMAND "${VORNEL_TOOL_BASH}" "${_vornel_icecast_script}" stop "${VORNEL_ICECAST_RUN_DIR}")
  set_tests_properties(icecast_stop PROPERTIES FIXTURES_CLEANUP icecast TIMEOUT 30)

  # Appended, so that a test keeps the fixtures, locks and environment it already has.
  function(vornel_needs_icecast test_name)
    set_property(TEST ${test_name} APPEND PROPERTY FIXTURES_REQUIRED icecast)
    set_property(TEST ${test_name} APPEND PROPERTY RESOURCE_LOCK icecast)
    set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "VORNEL_ICECAST_ENV=${VORNEL_ICECAST_ENV}")
  endfunction()

  # The server as a listener sees it, so that a broken fixture shows up under its own name
  # rather than as a failure of the library under test.
  add_test(NAME icecast_check
    COMMAND "${VORNEL_TOOL_BASH}" "${_vornel_icecast_script}" check "${VORNEL_ICECAST_RUN_DIR}")
  set_tests_properties(icecast_check PROPERTIES TIMEOUT 60)
  vornel_needs_icecast(icecast_check)
endif()
