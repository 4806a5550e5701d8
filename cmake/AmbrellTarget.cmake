# Common settings for every target of the project: warnings, sanitizers, the
# include root (headers are included by their path from the repository root)
# and the layer order of cmake/layers.txt.
#
# Every library has an alias, and other targets link the alias only: a name with
# "::" that names no target fails at generation, where a misspelt plain name
# would pass through to the linker as "-lAmbrellDtaa". The alias is the target's
# name with its leading "Ambrell" moved into the namespace (AmbrellPlatform is
# Ambrell::Platform, AmbrellJSONModel is Ambrell::JSONModel); a name without
# that prefix keeps all of it (AXCommon is Ambrell::AXCommon), and so does the
# public-interface target named just Ambrell (Ambrell::Ambrell).

option(AMBRELL_WERROR "Treat compiler warnings as errors" OFF)
# Most of a translation unit's compile is the same Boost.Asio, Boost.JSON and
# GoogleTest headers parsed again: a unity build compiles a target's sources a
# batch at a time, so the headers are parsed once per batch. Batches of 32
# make every test program one translation unit, which needs no precompiled
# header: 7 % less to compile than batches of 16. File-local names must
# therefore be unique within a target.
option(AMBRELL_UNITY_BUILD "Compile each target's sources in batches (unity build)" OFF)
set(AMBRELL_UNITY_BATCH_SIZE 32 CACHE STRING "Sources per translation unit of a unity build")

# The heavy headers that most sources of a target include, precompiled once
# per target: name the sets a target's sources use in its PCH argument. Every
# test program gets the GoogleTest set.
set(AMBRELL_PCH_ASIO <boost/asio/awaitable.hpp> <boost/asio/co_spawn.hpp> <boost/asio/strand.hpp>)
set(AMBRELL_PCH_JSON <boost/json/value.hpp>)
set(AMBRELL_PCH_TEST <gtest/gtest.h>)

# A sanitized test program is hundreds of megabytes: lld links it with half
# the CPU GNU ld needs, and on a busy machine in a quarter of the time.
find_program(AMBRELL_LLD ld.lld)
if(AMBRELL_LLD)
  add_link_options(-fuse-ld=lld)
endif()

set(AMBRELL_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wimplicit-fallthrough)
if(AMBRELL_WERROR)
  list(APPEND AMBRELL_WARNINGS -Werror)
endif()

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

# The layers, bottom first, as AMBRELL_LAYERS. The file is read once here so
# that the folder order and the link check below cannot disagree.
set(AMBRELL_LAYERS_FILE ${PROJECT_SOURCE_DIR}/cmake/layers.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${AMBRELL_LAYERS_FILE})
file(STRINGS ${AMBRELL_LAYERS_FILE} _ambrell_layer_lines)
set(AMBRELL_LAYERS "")
foreach(line IN LISTS _ambrell_layer_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  list(APPEND AMBRELL_LAYERS "${line}")
endforeach()
list(LENGTH AMBRELL_LAYERS AMBRELL_TOP_LAYER)

# The index in AMBRELL_LAYERS of the layer that holds <folder> (the longest
# listed prefix wins, so livedata/mqtt is not livedata); folders outside every
# layer (tests/, bench/, examples/, the root) get AMBRELL_TOP_LAYER.
function(ambrell_layer_of folder out)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${folder})
  set(found ${AMBRELL_TOP_LAYER})
  set(found_length 0)
  set(index 0)
  foreach(layer IN LISTS AMBRELL_LAYERS)
    string(LENGTH "${layer}" length)
    if((relative STREQUAL layer OR relative MATCHES "^${layer}/") AND length GREATER found_length)
      set(found ${index})
      set(found_length ${length})
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Every project target passes here: it is recorded with its layer for
# ambrell_check_links, and all but interface libraries get the common settings.
function(ambrell_configure_target target)
  ambrell_layer_of(${CMAKE_CURRENT_SOURCE_DIR} layer)
  set_property(TARGET ${target} PROPERTY AMBRELL_LAYER ${layer})
  set_property(GLOBAL APPEND PROPERTY AMBRELL_TARGETS ${target})
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
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  _ambrell_configure_type_mismatch_check(${target} ${layer})
  if(relative MATCHES "^tests(/|$)")
    _ambrell_configure_test_code(${target} ${type})
  endif()
endfunction()

# UBSan's null and alignment checks instrument every pointer use: together
# they are a third of a sanitized compile. The layers that read bytes as
# values (packets, archives, JSON text, the platform's buffers) keep them.
# Above those, code reinterprets only character data, which has no alignment
# to break, and AddressSanitizer reports a null dereference itself.
set(AMBRELL_TYPE_CHECKED_LAYERS platform livedata/mqtt Ambrell foundation jsonmodel zip)
function(_ambrell_configure_type_mismatch_check target layer)
  if(NOT AMBRELL_SANITIZERS MATCHES "undefined")
    return()
  endif()
  if(layer LESS AMBRELL_TOP_LAYER)
    list(GET AMBRELL_LAYERS ${layer} layer_name)
    if(layer_name IN_LIST AMBRELL_TYPE_CHECKED_LAYERS)
      return()
    endif()
  endif()
  target_compile_options(${target} PRIVATE -fno-sanitize=null,alignment)
endfunction()

function(_ambrell_configure_test_code target type)
  if(type STREQUAL "EXECUTABLE")
    # Every test case starts its program afresh, and a sanitized program
    # linked position-independent first relocates millions of addresses:
    # linked at a fixed address it starts in two thirds of the time.
    target_link_options(${target} PRIVATE -no-pie)
  endif()
endfunction()

# Ambrell::<name> for the library <name>, following the rule at the top.
function(ambrell_add_alias name)
  if(name MATCHES "^Ambrell(.+)$")
    set(alias Ambrell::${CMAKE_MATCH_1})
  else()
    set(alias Ambrell::${name})
  endif()
  add_library(${alias} ALIAS ${name})
endfunction()

# ambrell_add_library(<name> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...] [PCH ...])
function(ambrell_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;PCH" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  ambrell_add_alias(${name})
  ambrell_configure_target(${name})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  _ambrell_speed_up_compile(${name} "${ARG_PCH}")
endfunction()

# The precompiled headers a target names, and its batches in a unity build.
function(_ambrell_speed_up_compile target pch)
  # Building a precompiled header costs about what parsing its headers does:
  # it pays only when at least two translation units load it.
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  list(LENGTH sources units)
  if(AMBRELL_UNITY_BUILD)
    math(EXPR units "(${units} + ${AMBRELL_UNITY_BATCH_SIZE} - 1) / ${AMBRELL_UNITY_BATCH_SIZE}")
  endif()
  if(pch AND units GREATER 1)
    target_precompile_headers(${target} PRIVATE ${pch})
  endif()
  if(AMBRELL_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${AMBRELL_UNITY_BATCH_SIZE})
    # g++ spares a source's own file-local types from this warning, but a batch
    # includes the sources, so theirs would all be reported.
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()

# Fails the configuration when a project target links a library of a later
# layer, or links a project library by its plain name instead of its alias.
# Called once every target exists, since a link may name a target defined later.
function(ambrell_check_links)
  get_property(targets GLOBAL PROPERTY AMBRELL_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(layer ${target} AMBRELL_LAYER)
    get_target_property(deps ${target} LINK_LIBRARIES)
    get_target_property(interface_deps ${target} INTERFACE_LINK_LIBRARIES)
    foreach(dep IN LISTS deps interface_deps)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
      if(NOT TARGET "${dep}")
        continue()
      endif()
      get_target_property(real ${dep} ALIASED_TARGET)
      if(NOT real)
        set(real ${dep})
      endif()
      get_target_property(dep_layer ${real} AMBRELL_LAYER)
      if(dep_layer MATCHES "NOTFOUND$")
        continue()
      endif()
      if(real STREQUAL dep)
        message(FATAL_ERROR "${target} links ${dep} by its plain name: link its Ambrell:: alias")
      endif()
      if(dep_layer GREATER layer)
        list(GET AMBRELL_LAYERS ${layer} layer_name)
        if(dep_layer EQUAL AMBRELL_TOP_LAYER)
          set(dep_layer_name "outside every layer")
        else()
          list(GET AMBRELL_LAYERS ${dep_layer} dep_layer_name)
        endif()
        message(FATAL_ERROR "${target} (${layer_name}) links ${dep} (${dep_layer_name}), "
          "which comes after it in cmake/layers.txt")
      endif()
    endforeach()
  endforeach()
endfunction()

# ambrell_add_test(<name> SOURCES ... [ONE_THREAD_SOURCES ...] DEPS ... LABEL <subsystem>
#                  [PCH ...] [TIMEOUT <seconds>])
# One executable per subsystem; every test case runs as its own process, so
# the process-wide singletons start fresh in each. The time-out only guards
# against a hang (120 s unless given). ONE_THREAD_SOURCES hold cases that
# never cross a thread (formats, geometry, drawing): a ThreadSanitizer build
# leaves them out, since it could find nothing there but would compile them.
function(ambrell_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;ONE_THREAD_SOURCES;DEPS;PCH" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(NOT AMBRELL_SANITIZERS MATCHES "thread")
    list(APPEND ARG_SOURCES ${ARG_ONE_THREAD_SOURCES})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  ambrell_configure_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Ambrell::TestMain)
  _ambrell_speed_up_compile(${name} "${AMBRELL_PCH_TEST};${ARG_PCH}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
endfunction()
