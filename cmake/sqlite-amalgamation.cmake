# SQLite for the Windows simulated game, compiled from the amalgamation (Debian has no MinGW SQLite).
# tools/fetch-sqlite takes sqlite3.c and sqlite3.h from the npm package better-sqlite3 at the version
# pinned here, checks them against these sums and puts them in third_party/sqlite/ (never committed).
# Included by devhost/CMakeLists.txt; defines SQLite::SQLite3 as find_package(SQLite3) would.
set(GEARLOFT_SQLITE_NPM_PACKAGE "better-sqlite3")
set(GEARLOFT_SQLITE_NPM_VERSION "12.11.1")  # ships SQLite 3.53.2
set(GEARLOFT_SQLITE_C_SHA256 "60d2f39a3726cd6b9021da6f4e868608d66fbb6528a9f513dc8ffcc640493422")
set(GEARLOFT_SQLITE_H_SHA256 "9e69a1353a4288450b0d5239ede11fc7f1f4c8e5eb07491fc8317eacb5b7de7e")

set(GEARLOFT_SQLITE_DIR "${PROJECT_SOURCE_DIR}/third_party/sqlite"
    CACHE PATH "Folder holding the fetched SQLite amalgamation (sqlite3.c, sqlite3.h)")

set(SQLite3_FOUND FALSE)
foreach(part c h)
  set(amalgamation_file "${GEARLOFT_SQLITE_DIR}/sqlite3.${part}")
  string(TOUPPER "${part}" upper)
  if(NOT EXISTS "${amalgamation_file}")
    message(STATUS "SQLite amalgamation missing (${amalgamation_file}): run tools/fetch-sqlite")
    return()
  endif()
  file(SHA256 "${amalgamation_file}" sum)
  if(NOT sum STREQUAL GEARLOFT_SQLITE_${upper}_SHA256)
    message(FATAL_ERROR "${amalgamation_file} is not the pinned SQLite amalgamation (SHA-256 ${sum}); "
                        "run tools/fetch-sqlite to fetch it again")
  endif()
endforeach()
# A changed file must configure again, so the sums are checked once more.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${GEARLOFT_SQLITE_DIR}/sqlite3.c" "${GEARLOFT_SQLITE_DIR}/sqlite3.h")

add_library(gearloft_sqlite3 STATIC "${GEARLOFT_SQLITE_DIR}/sqlite3.c")
target_include_directories(gearloft_sqlite3 SYSTEM PUBLIC "${GEARLOFT_SQLITE_DIR}")
# Serialized threading, as a system SQLite has it: the game's thread and the worker share one connection.
# No extension loading: the game loads none.
target_compile_definitions(gearloft_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION=1)
# Its 9 MB take minutes to optimise fully on a CI machine and seconds at -O1; the tests need it correct,
# not fast.
target_compile_options(gearloft_sqlite3 PRIVATE -O1)
set_target_properties(gearloft_sqlite3 PROPERTIES POSITION_INDEPENDENT_CODE ON)
add_library(SQLite::SQLite3 ALIAS gearloft_sqlite3)
set(SQLite3_FOUND TRUE)
