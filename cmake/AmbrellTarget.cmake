# Common settings for every target of the project: warnings, sanitizers and
# the include root (headers are included by their path from the repository root).

set(AMBRELL_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wimplicit-fallthrough)

if(AMBRELL_SANITIZERS)
  set(AMBRELL_SANITIZER_FLAGS -fsanitize=${AMBRELL_SANITIZERS} -fno-omit-frame-pointer)
  if(AMBRELL_SANITIZERS MATCHES "undefined")
    list(APPEND AMBRELL_SANITIZER_FLAGS -fno-sanitize-recover=undefined)
  endif()
  if(AMBRELL_SANITIZERS MATCHES "thread")
    # Asio uses atomic_thread_fence, which g++ warns TSan does not model.
    list(APPEND AMBRELL_SANITIZER_FLAGS -Wno-tsan)
  endif()
  add_compile_options(${AMBRELL_SANITIZER_FLAGS})
  add_link_options(${AMBRELL_SANITIZER_FLAGS})
endif()

function(ambrell_configure_target target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_compile_options(${target} PRIVATE ${AMBRELL_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PUBLIC
    BOOST_ASIO_NO_DEPRECATED
    BOOST_ASIO_DISABLE_BOOST_COROUTINE
    BOOST_JSON_NO_LIB BOOST_URL_NO_LIB)
endfunction()

# ambrell_add_library(<name> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...] [PCH ...])
function(ambrell_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;PCH" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  ambrell_configure_target(${name})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  if(ARG_PCH)
    target_precompile_headers(${name} PRIVATE ${ARG_PCH})
  endif()
endfunction()

# ambrell_add_test(<name> SOURCES ... DEPS ... LABEL <subsystem> [PCH ...])
# One executable per subsystem; every test case runs as its own process, so
# the process-wide singletons start fresh in each.
function(ambrell_add_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS;PCH" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  ambrell_configure_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(ARG_PCH)
    target_precompile_headers(${name} PRIVATE ${ARG_PCH})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 120)
endfunction()
