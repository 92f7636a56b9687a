# The devnet for C++ tests. Include this file, then register a test with
#   ostakka_devnet_test(name SOURCES a_test.cpp DEPS lib... [LABELS extra...] [ENV K=V...] [TIMEOUT s])
# It builds one GoogleTest binary exactly like ostakka_test, labels it devnet, and runs it after the
# CTest fixture "ostakka_devnet" has started one devnet for the whole ctest run (fresh state, free
# port). The test finds it through OSTAKKA_DEVNET_INFO, the path of a JSON file
# {"port":N,"ca":"/abs/ca.pem","state":"/abs/dir","admin":"https://127.0.0.1:N/admin"};
# tests/devnet/devnet_info.h reads it. All devnet tests of a run share that one devnet and may run
# in parallel: use fresh keys and names per test and do not assume an empty chain.
#
# Safe to include from several folders: nothing here depends on the including folder's scope.

# Adds the start and stop tests of the fixture, once per build tree.
function(ostakka_devnet_fixture)
  get_property(defined GLOBAL PROPERTY OSTAKKA_DEVNET_FIXTURE_DEFINED)
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY OSTAKKA_DEVNET_FIXTURE_DEFINED TRUE)
  set(script ${CMAKE_SOURCE_DIR}/tests/devnet/devnet_fixture.sh)
  set(workdir ${CMAKE_BINARY_DIR}/devnet-fixture)
  add_test(NAME ostakka_devnet_start COMMAND bash ${script} start ${workdir})
  add_test(NAME ostakka_devnet_stop COMMAND bash ${script} stop ${workdir})
  set_tests_properties(ostakka_devnet_start PROPERTIES FIXTURES_SETUP ostakka_devnet LABELS devnet TIMEOUT 120)
  set_tests_properties(ostakka_devnet_stop PROPERTIES FIXTURES_CLEANUP ostakka_devnet LABELS devnet TIMEOUT 60)
endfunction()

function(ostakka_devnet_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS;ENV" ${ARGN})
  ostakka_devnet_fixture()
  set(labels devnet ${ARG_LABELS})
  list(REMOVE_DUPLICATES labels)
  set(timeout_args)
  if(ARG_TIMEOUT)
    set(timeout_args TIMEOUT ${ARG_TIMEOUT})
  endif()
  ostakka_test(${name} SOURCES ${ARG_SOURCES} DEPS ${ARG_DEPS} LABELS ${labels}
               ENV OSTAKKA_DEVNET_INFO=${CMAKE_BINARY_DIR}/devnet-fixture/devnet_info.json ${ARG_ENV} ${timeout_args})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ostakka_devnet)
endfunction()
