# gearloft build: the header-only Debian libraries of the tools around the library (CLI11 for the option
# parsing of gearloft-check and the simulated game, nlohmann/json for gearloft-check's report), as the
# interface targets gearloft_cli11 and gearloft_json. Either is left undefined when its headers are missing.
#
# A native build takes their CMake packages; a cross build cannot put the host's /usr/include on its include
# path (the host C headers would shadow the target's), so it gets a folder holding only the libraries' own
# header folders.
include_guard(GLOBAL)

function(gearloft_header_library target package imported header folder)
  find_package(${package} CONFIG QUIET)
  if(TARGET ${imported} AND NOT CMAKE_CROSSCOMPILING)
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${imported})
    return()
  endif()
  find_path(GEARLOFT_${package}_INCLUDE ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT GEARLOFT_${package}_INCLUDE)
    return()
  endif()
  set(header_folder ${CMAKE_BINARY_DIR}/third_party_include)
  file(MAKE_DIRECTORY ${header_folder})
  file(CREATE_LINK ${GEARLOFT_${package}_INCLUDE}/${folder} ${header_folder}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${header_folder})
endfunction()

gearloft_header_library(gearloft_cli11 CLI11 CLI11::CLI11 CLI/CLI.hpp CLI)
gearloft_header_library(gearloft_json nlohmann_json nlohmann_json::nlohmann_json nlohmann/json.hpp nlohmann)
