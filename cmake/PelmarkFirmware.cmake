# pelmark_add_image_set(<name> MANIFEST <manifest.json>)
#
# Generates C++ arrays for the images a manifest lists (pelmark-fwgen) and
# makes an OBJECT library <name> that defines pelmark::BuildImages(). Link
# exactly one image set into every program that uses the image table.
function(pelmark_add_image_set name)
  cmake_parse_arguments(ARG "" "MANIFEST" "" ${ARGN})
  if(NOT ARG_MANIFEST)
    message(FATAL_ERROR "pelmark_add_image_set(${name}): MANIFEST is required")
  endif()
  get_filename_component(_manifest "${ARG_MANIFEST}" ABSOLUTE)
  set(_out "${CMAKE_CURRENT_BINARY_DIR}/${name}_images.cpp")
  add_custom_command(
    OUTPUT "${_out}"
    COMMAND pelmark-fwgen --manifest "${_manifest}" --mask-base "${PELMARK_MASK_BASE_VALUE}"
            --output "${_out}" --depfile "${_out}.d"
    DEPENDS pelmark-fwgen "${_manifest}"
    DEPFILE "${_out}.d"
    COMMENT "Embedding firmware images of ${_manifest}"
    VERBATIM)
  add_library(${name} OBJECT "${_out}")
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}")
endfunction()
