# Run by ctest (label "packaging"): installs this build tree into a prefix of
# its own, then configures the example host on its own with
# find_package(AmbrellCore) from that prefix alone and builds it. A header
# the installed libraries need but the package lacks, or a dependency its
# configuration does not find, fails here.
#
#   cmake -DBUILD_TREE=... -DWORK=... -DEXAMPLE=... -DGENERATOR=... -DBUILD_TYPE=...
#         -DCXX_COMPILER=... [-DCXX_FLAGS=...] [-DLAUNCHER=...] -P CheckInstalledPackage.cmake

include(${CMAKE_CURRENT_LIST_DIR}/PackagingCheckSupport.cmake)
require_definitions(CheckInstalledPackage.cmake BUILD_TREE WORK EXAMPLE GENERATOR CXX_COMPILER)

set(prefix ${WORK}/prefix)
set(example_build ${WORK}/host)
file(REMOVE_RECURSE ${WORK})

run("Installing the build tree" ${CMAKE_COMMAND} --install ${BUILD_TREE} --prefix ${prefix})

set(options
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCMAKE_CXX_FLAGS=${CXX_FLAGS}
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
if(LAUNCHER)
  list(APPEND options -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
run("Configuring the example host against the package"
  ${CMAKE_COMMAND} -S ${EXAMPLE} -B ${example_build} -G ${GENERATOR} ${options})

# The package, not the source tree, must have answered.
file(STRINGS ${example_build}/CMakeCache.txt found REGEX "^AmbrellCore_DIR:")
string(FIND "${found}" "${prefix}/" position)
if(NOT position GREATER -1)
  message(FATAL_ERROR "The example found AmbrellCore outside the installed prefix: ${found}")
endif()

run("Building the example host against the package" ${CMAKE_COMMAND} --build ${example_build} --parallel 2)
message(STATUS "The example host builds against the package installed in ${prefix}")
