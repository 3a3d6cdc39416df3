# What a cross build takes from the build machine: the firmware generator,
# which runs during the build, and the header-only CLI11.

# pelmark-fwgen of a native build of this project.
set(PELMARK_HOST_FWGEN "" CACHE FILEPATH "pelmark-fwgen built for the build machine (cross builds)")
if(NOT PELMARK_HOST_FWGEN AND EXISTS "${PROJECT_SOURCE_DIR}/build/tools/fwgen/pelmark-fwgen")
  set(PELMARK_HOST_FWGEN "${PROJECT_SOURCE_DIR}/build/tools/fwgen/pelmark-fwgen" CACHE FILEPATH
      "pelmark-fwgen built for the build machine (cross builds)" FORCE)
endif()
if(NOT PELMARK_HOST_FWGEN OR NOT EXISTS "${PELMARK_HOST_FWGEN}")
  message(FATAL_ERROR "A cross build runs pelmark-fwgen on the build machine: build it natively first "
                      "(cmake --build build --target pelmark-fwgen) and pass -DPELMARK_HOST_FWGEN=<path>.")
endif()
add_executable(pelmark-fwgen IMPORTED GLOBAL)
set_target_properties(pelmark-fwgen PROPERTIES IMPORTED_LOCATION "${PELMARK_HOST_FWGEN}")

# CLI11 for the target when it has none: the build machine's headers, copied
# apart so that the cross compiler does not see the rest of /usr/include.
find_package(CLI11 CONFIG QUIET)
if(NOT CLI11_FOUND)
  find_path(PELMARK_HOST_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT PELMARK_HOST_CLI11_INCLUDE)
    message(FATAL_ERROR "CLI11 headers not found (Debian: libcli11-dev)")
  endif()
  set(_staged "${CMAKE_BINARY_DIR}/host-headers")
  file(COPY "${PELMARK_HOST_CLI11_INCLUDE}/CLI" DESTINATION "${_staged}/include")
  file(WRITE "${_staged}/CLI11Config.cmake"
       "if(NOT TARGET CLI11::CLI11)\n"
       "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
       "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${_staged}/include\")\n"
       "endif()\n")
  set(CLI11_DIR "${_staged}" CACHE PATH "CLI11 package directory" FORCE)
endif()

# nlohmann-json (header-only) for the target when it has none, staged the
# same way.
find_package(nlohmann_json 3 CONFIG QUIET)
if(NOT nlohmann_json_FOUND)
  find_path(PELMARK_HOST_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT PELMARK_HOST_JSON_INCLUDE)
    message(FATAL_ERROR "nlohmann-json headers not found (Debian: nlohmann-json3-dev)")
  endif()
  set(_staged "${CMAKE_BINARY_DIR}/host-headers")
  file(COPY "${PELMARK_HOST_JSON_INCLUDE}/nlohmann" DESTINATION "${_staged}/include")
  file(WRITE "${_staged}/nlohmann_jsonConfig.cmake"
       "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
       "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
       "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${_staged}/include\")\n"
       "endif()\n")
  file(WRITE "${_staged}/nlohmann_jsonConfigVersion.cmake"
       "set(PACKAGE_VERSION 3)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
  set(nlohmann_json_DIR "${_staged}" CACHE PATH "nlohmann_json package directory" FORCE)
endif()
