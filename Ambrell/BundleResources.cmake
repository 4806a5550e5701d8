# Writes a source that holds every PNG of the resources folder as bytes, so the
# library carries its images and hosts ship no resource folder. Run at
# configure time; a changed, added or removed PNG configures again.
#
#   ambrell_embed_bundle_images(<output .cpp>)
function(ambrell_embed_bundle_images output)
  file(GLOB pngs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/*.png)
  list(SORT pngs)
  set(arrays "")
  set(entries "")
  set(index 0)
  foreach(png IN LISTS pngs)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${png})
    get_filename_component(file ${png} NAME_WE)
    if(file MATCHES "^(.+)@([0-9]+)x$")
      set(name ${CMAKE_MATCH_1})
      set(scale ${CMAKE_MATCH_2})
    else()
      set(name ${file})
      set(scale 1)
    endif()
    file(READ ${png} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " bytes "${bytes}")
    string(APPEND arrays "const unsigned char image${index}[] = {\n    ${bytes}\n};\n")
    string(APPEND entries "        Resource{\"${name}\", ${scale}, image${index}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  set(text "// Generated from Ambrell/resources by Ambrell/BundleResources.cmake; not edited by hand.
#include \"Ambrell/BundleResources.h\"

namespace ambrell::bundle_resources {
namespace {

${arrays}
}  // namespace

std::span<const Resource> images() {
    static const Resource all[] = {
${entries}    };
    return all;
}

}  // namespace ambrell::bundle_resources
")
  # Written only when it changes, so a configure does not rebuild the library.
  file(CONFIGURE OUTPUT ${output} CONTENT "${text}" @ONLY)
endfunction()
