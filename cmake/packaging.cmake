# gearloft release package, Windows builds: `cmake --build <dir> --target package` makes
# gearloft-<version>-win64.zip, unpacked by the player into the game folder: gearloft.dll,
# gearloft-check.exe, gearloft-README.txt, scripts/gearloft.ini and the example scripts in
# scripts/tunebay/examples/.
# The shipped zip comes from the mingw-dll preset (win32 thread model); tools/check-package checks it.
if(NOT WIN32)
  return()
endif()

# The text files get CR LF line ends, so Notepad on any Windows shows them as written. They are made
# when CMake configures; a changed source makes it configure again.
set(package_text_dir ${CMAKE_BINARY_DIR}/package-text)
function(gearloft_package_text source destination)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${package_text_dir}/${destination} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

file(REMOVE_RECURSE ${package_text_dir})
gearloft_package_text(${PROJECT_SOURCE_DIR}/packaging/README.txt gearloft-README.txt)
gearloft_package_text(${PROJECT_SOURCE_DIR}/packaging/gearloft.ini gearloft.ini)
file(GLOB package_examples CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/tunebay/*.ini)
set(package_example_files)
foreach(example IN LISTS package_examples)
  get_filename_component(name ${example} NAME)
  gearloft_package_text(${example} tunebay/examples/${name})
  list(APPEND package_example_files ${package_text_dir}/tunebay/examples/${name})
endforeach()

# The DLL alone: its import library (nothing is exported) stays out of every installation.
install(TARGETS gearloft RUNTIME DESTINATION . ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
install(FILES ${package_text_dir}/gearloft-README.txt DESTINATION .)
install(FILES ${package_text_dir}/gearloft.ini DESTINATION scripts)
# The examples wait in a sub-folder, which the worker never loads: a fresh install changes nothing in
# the game until the player copies a script up into scripts/tunebay.
install(FILES ${package_example_files} DESTINATION scripts/tunebay/examples)
# gearloft-check.exe needs the simulated game's SQLite, which the mingw-dll configuration does not build;
# tools/test hands it the one from the mingw build (a standalone program, never loaded into the game).
set(GEARLOFT_PACKAGE_CHECK_EXE "" CACHE FILEPATH "gearloft-check.exe to ship in the release zip")
if(GEARLOFT_PACKAGE_CHECK_EXE)
  install(PROGRAMS ${GEARLOFT_PACKAGE_CHECK_EXE} DESTINATION .)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME gearloft)
set(CPACK_PACKAGE_VENDOR gearloft)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME gearloft-${PROJECT_VERSION}-win64)
# The zip's entries go straight into the game folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# A player gets no symbols, whatever the configuration.
set(CPACK_STRIP_FILES ON)
include(CPack)
