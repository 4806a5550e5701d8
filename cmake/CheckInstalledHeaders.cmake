# Run by ctest (label "packaging") after CheckInstalledPackage.cmake: every
# header the package installs, included together in one file of a project
# that finds the package in that prefix alone, must compile. A header that
# includes one the package lacks, or a folder of the source tree, fails here.
# The README's C++ examples compile there too, each with only the headers it
# includes itself, so that what the README tells a host to include is enough.
#
#   cmake -DWORK=... -DREADME=... -DGENERATOR=... -DCXX_COMPILER=... [-DLAUNCHER=...]
#         -P CheckInstalledHeaders.cmake

include(${CMAKE_CURRENT_LIST_DIR}/PackagingCheckSupport.cmake)
require_definitions(CheckInstalledHeaders.cmake WORK README GENERATOR CXX_COMPILER)

set(prefix ${WORK}/prefix)
set(project ${WORK}/headers)
set(include ${prefix}/include/AmbrellCore)
if(NOT EXISTS ${include})
  message(FATAL_ERROR "Nothing is installed in ${prefix}: CheckInstalledPackage.cmake runs first")
endif()
file(REMOVE_RECURSE ${project})

file(GLOB_RECURSE headers RELATIVE ${include} ${include}/*.h)
list(SORT headers)
set(includes "")
foreach(header IN LISTS headers)
  string(APPEND includes "#include \"${header}\"\n")
endforeach()
file(WRITE ${project}/source/EveryHeader.cpp "${includes}")

# Each ```cpp block of the README, its list indentation taken off, becomes a
# source file of its own.
file(READ ${README} readme)
# Semicolons would split the blocks, as a CMake list, at each statement.
string(REPLACE ";" "<semicolon>" readme "${readme}")
string(REGEX MATCHALL "```cpp\n[^`]*```" blocks "${readme}")
set(examples "")
set(index 0)
foreach(block IN LISTS blocks)
  string(REGEX REPLACE "^```cpp\n" "" block "${block}")
  string(REGEX REPLACE "[ ]*```$" "" block "${block}")
  string(REGEX REPLACE "(^|\n)  " "\\1" block "${block}")
  string(REPLACE "<semicolon>" ";" block "${block}")
  math(EXPR index "${index} + 1")
  file(WRITE ${project}/source/ReadmeExample${index}.cpp "${block}")
  list(APPEND examples ReadmeExample${index}.cpp)
endforeach()
if(index EQUAL 0)
  message(FATAL_ERROR "${README} holds no C++ example")
endif()
file(WRITE ${project}/source/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(AmbrellCoreHeaders LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
find_package(AmbrellCore REQUIRED)
add_library(every_header OBJECT EveryHeader.cpp ${examples})
target_link_libraries(every_header PRIVATE AmbrellCore::AmbrellCore)
")

set(options
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
if(LAUNCHER)
  list(APPEND options -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
run("Configuring the header check" ${CMAKE_COMMAND} -S ${project}/source -B ${project}/build -G ${GENERATOR} ${options})
run("Compiling every installed header" ${CMAKE_COMMAND} --build ${project}/build)
list(LENGTH headers count)
message(STATUS "The ${count} installed headers and the README's ${index} C++ examples compile from the package alone")
