# The devnet for C++ tests. Include this file, then register a test with
#   ostakka_devnet_test(name SOURCES a_test.cpp DEPS lib... [LABELS extra...] [ENV K=V...] [TIMEOUT s])
# It builds one GoogleTest binary exactly like ostakka_test, labels it devnet, and runs it after the
# CTest fixture "ostakka_devnet" has started one devnet for the whole ctest run (fresh state, free
# port). The test finds it through OSTAKKA_DEVNET_INFO, the path of a JSON file
# {"port":N,"ca":"/abs/ca.pem","state":"/abs/dir","admin":"https://127.0.0.1:N/admin",
#  "woc_rate_limit":0};
# tests/devnet/devnet_info.h reads it. All devnet tests of a run share that one devnet and may run
# in parallel: use fresh keys and names per test and do not assume an empty chain.
#
# A test that must meet WhatsOnChain's rate limit runs once more against a second devnet started
# with --woc-rate-limit N:
#   ostakka_devnet_rerun(name TARGET existing_test_binary WOC_RATE_LIMIT N [ENV K=V...] [TIMEOUT s])
# Its info file carries "woc_rate_limit", and the test helpers pace WhatsOnChain requests to it.
#
# Safe to include from several folders: nothing here depends on the including folder's scope.

# Adds the start and stop tests of a fixture, once per build tree: "ostakka_devnet" (no rate
# limit) or, with a rate, "ostakka_devnet_woc<rate>".
function(ostakka_devnet_fixture)
  cmake_parse_arguments(ARG "" "WOC_RATE_LIMIT" "" ${ARGN})
  set(fixture ostakka_devnet)
  set(workdir ${CMAKE_BINARY_DIR}/devnet-fixture)
  set(options)
  if(ARG_WOC_RATE_LIMIT)
    set(fixture ostakka_devnet_woc${ARG_WOC_RATE_LIMIT})
    set(workdir ${CMAKE_BINARY_DIR}/devnet-woc${ARG_WOC_RATE_LIMIT}-fixture)
    set(options --woc-rate-limit ${ARG_WOC_RATE_LIMIT})
  endif()
  get_property(defined GLOBAL PROPERTY ${fixture}_DEFINED)
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY ${fixture}_DEFINED TRUE)
  set(script ${CMAKE_SOURCE_DIR}/tests/devnet/devnet_fixture.sh)
  add_test(NAME ${fixture}_start COMMAND bash ${script} start ${workdir} ${options})
  add_test(NAME ${fixture}_stop COMMAND bash ${script} stop ${workdir})
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture} LABELS devnet TIMEOUT 120)
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture} LABELS devnet TIMEOUT 60)
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

function(ostakka_devnet_rerun name)
  cmake_parse_arguments(ARG "" "TARGET;WOC_RATE_LIMIT;TIMEOUT" "ENV" ${ARGN})
  ostakka_devnet_fixture(WOC_RATE_LIMIT ${ARG_WOC_RATE_LIMIT})
  set(info ${CMAKE_BINARY_DIR}/devnet-woc${ARG_WOC_RATE_LIMIT}-fixture/devnet_info.json)
  add_test(NAME ${name} COMMAND ${ARG_TARGET})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS devnet TIMEOUT ${ARG_TIMEOUT}
    FIXTURES_REQUIRED ostakka_devnet_woc${ARG_WOC_RATE_LIMIT}
    ENVIRONMENT "OSTAKKA_DEVNET_INFO=${info};${ARG_ENV}")
endfunction()
