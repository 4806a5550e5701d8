# Installation as a CMake package. `cmake --install <build> --prefix <prefix>`
# puts the static libraries under lib/, every header of the library folders
# under include/AmbrellCore/ by the paths the code includes them with
# ("platform/Paths.h", "core/CVAmbrell.h"), and the package under
# lib/cmake/AmbrellCore, so that a host writes
#
#     find_package(AmbrellCore REQUIRED)
#     target_link_libraries(host PRIVATE AmbrellCore::AmbrellCore)
#
# ambrell_install() is called once every target exists: it installs the
# library targets of the layer folders, whatever layers there are by then.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(AMBRELL_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/AmbrellCore)
set(AMBRELL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/AmbrellCore)

# The find call in the package configuration for one imported target that an
# installed library links (a static library's private links are needed by the
# host's link too), appended to the list named by <out_calls>; Boost
# components are gathered in <out_boost>. An imported target of a package
# missing here is reported, since a host could not link the package.
function(_ambrell_dependency_call dependency out_calls out_boost)
  set(calls ${${out_calls}})
  set(boost ${${out_boost}})
  if(dependency MATCHES "^Boost::(.+)$")
    if(NOT CMAKE_MATCH_1 STREQUAL "headers" AND NOT CMAKE_MATCH_1 STREQUAL "boost")
      list(APPEND boost ${CMAKE_MATCH_1})
    endif()
    list(APPEND calls "@BOOST@")
  elseif(dependency MATCHES "^PkgConfig::(.+)$")
    set(prefix ${CMAKE_MATCH_1})
    # pkg_check_modules keeps the module's name in the cache.
    set(module ${prefix})
    if(DEFINED ${prefix}_MODULE_NAME)
      set(module ${${prefix}_MODULE_NAME})
    endif()
    list(APPEND calls "ambrell_find_pkg_config(${prefix} ${module})")
  elseif(dependency STREQUAL "Threads::Threads")
    list(APPEND calls "find_dependency(Threads)")
  elseif(dependency MATCHES "^spdlog::")
    list(APPEND calls "find_dependency(spdlog)")
  elseif(dependency MATCHES "^CURL::")
    list(APPEND calls "find_dependency(CURL)")
  elseif(dependency MATCHES "^OpenSSL::")
    list(APPEND calls "find_dependency(OpenSSL)")
  elseif(dependency MATCHES "^ZLIB::")
    list(APPEND calls "find_dependency(ZLIB)")
  elseif(dependency MATCHES "^SQLite::")
    list(APPEND calls "find_dependency(SQLite3)")
  else()
    message(WARNING "An installed library links ${dependency}, which the AmbrellCore package does not find: "
      "add it to _ambrell_dependency_call in cmake/AmbrellInstall.cmake")
  endif()
  set(${out_calls} ${calls} PARENT_SCOPE)
  set(${out_boost} ${boost} PARENT_SCOPE)
endfunction()

function(ambrell_install)
  # The libraries of the layer folders and the umbrella target; the test
  # support libraries sit above every layer and stay behind.
  get_property(targets GLOBAL PROPERTY AMBRELL_TARGETS)
  set(installed "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(layer ${target} AMBRELL_LAYER)
    if(NOT type MATCHES "^(STATIC|INTERFACE)_LIBRARY$")
      continue()
    endif()
    if(layer EQUAL AMBRELL_TOP_LAYER AND NOT target STREQUAL "AmbrellCore")
      continue()
    endif()
    list(APPEND installed ${target})
  endforeach()

  set(calls "")
  set(boost_components "")
  foreach(target IN LISTS installed)
    # The include root of the build is the source tree (and the build tree
    # for generated headers); installed, it is the package's include folder,
    # which INCLUDES DESTINATION below adds.
    get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
    if(includes)
      set(wrapped "")
      foreach(folder IN LISTS includes)
        string(FIND "${folder}" "${PROJECT_SOURCE_DIR}" in_source)
        string(FIND "${folder}" "${PROJECT_BINARY_DIR}" in_build)
        if(in_source EQUAL 0 OR in_build EQUAL 0)
          list(APPEND wrapped "$<BUILD_INTERFACE:${folder}>")
        else()
          list(APPEND wrapped "${folder}")
        endif()
      endforeach()
      set_property(TARGET ${target} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
    endif()

    # Exported under the alias's short name: AmbrellCore::Platform for Ambrell::Platform.
    if(target STREQUAL "AmbrellCore")
      set(export_name AmbrellCore)
    elseif(target MATCHES "^Ambrell(.+)$")
      set(export_name ${CMAKE_MATCH_1})
    else()
      set(export_name ${target})
    endif()
    set_property(TARGET ${target} PROPERTY EXPORT_NAME ${export_name})

    get_target_property(links ${target} LINK_LIBRARIES)
    get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
    foreach(dependency IN LISTS links interface_links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dependency "${dependency}")
      # A library linked with a feature (AmbrellCore links one whole), named
      # apart for the build tree and the package: the package's name is the
      # same target.
      if(dependency MATCHES "^\\$<INSTALL_INTERFACE:")
        continue()
      endif()
      string(REGEX REPLACE "^\\$<BUILD_INTERFACE:(.*)>$" "\\1" dependency "${dependency}")
      string(REGEX REPLACE "^\\$<LINK_LIBRARY:[A-Za-z_]+,(.*)>$" "\\1" dependency "${dependency}")
      # A package's imported target may be visible only in the folder that
      # found it (minizip and zlib in zip/): a name with "::" that names no
      # target here is one too.
      if(TARGET "${dependency}")
        get_target_property(imported ${dependency} IMPORTED)
      else()
        string(FIND "${dependency}" "::" imported)
        math(EXPR imported "${imported} + 1")
      endif()
      if(imported)
        _ambrell_dependency_call(${dependency} calls boost_components)
      endif()
    endforeach()
  endforeach()

  # A library built with sanitizers links only into a program that has their runtime.
  if(AMBRELL_SANITIZER_FLAGS)
    target_link_options(AmbrellCore INTERFACE "$<INSTALL_INTERFACE:${AMBRELL_SANITIZER_FLAGS}>")
  endif()

  install(TARGETS ${installed}
    EXPORT AmbrellCoreTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${AMBRELL_INSTALL_INCLUDEDIR})
  install(EXPORT AmbrellCoreTargets
    NAMESPACE AmbrellCore::
    DESTINATION ${AMBRELL_INSTALL_CMAKEDIR})

  # Every header of every layer folder, and those the build generates there.
  foreach(layer IN LISTS AMBRELL_LAYERS)
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${layer}/CMakeLists.txt)
      continue()
    endif()
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/${layer}/
      DESTINATION ${AMBRELL_INSTALL_INCLUDEDIR}/${layer}
      FILES_MATCHING PATTERN "*.h")
    install(DIRECTORY ${PROJECT_BINARY_DIR}/${layer}/
      DESTINATION ${AMBRELL_INSTALL_INCLUDEDIR}/${layer}
      FILES_MATCHING PATTERN "*.h"
      PATTERN "CMakeFiles" EXCLUDE)
  endforeach()

  # The find calls in a fixed order, each once; Boost with every component linked.
  list(REMOVE_DUPLICATES calls)
  list(SORT calls)
  list(REMOVE_DUPLICATES boost_components)
  list(SORT boost_components)
  list(JOIN boost_components " " boost_components)
  list(TRANSFORM calls REPLACE "^@BOOST@$"
    "find_dependency(Boost ${Boost_VERSION} EXACT CONFIG COMPONENTS ${boost_components})")
  list(JOIN calls "\n" AMBRELL_FIND_DEPENDENCIES)

  set(config ${PROJECT_BINARY_DIR}/AmbrellCoreConfig.cmake)
  set(version ${PROJECT_BINARY_DIR}/AmbrellCoreConfigVersion.cmake)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/AmbrellCoreConfig.cmake.in ${config}
    INSTALL_DESTINATION ${AMBRELL_INSTALL_CMAKEDIR})
  # Before 1.0 a minor version may break the interface.
  write_basic_package_version_file(${version} COMPATIBILITY SameMinorVersion)
  install(FILES ${config} ${version} DESTINATION ${AMBRELL_INSTALL_CMAKEDIR})
endfunction()
