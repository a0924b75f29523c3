# SQLite for the Windows build: Debian has no mingw-w64 SQLite, so its amalgamation
# (sqlite3.c, sqlite3.h) is taken from the better-sqlite3 npm package, pinned and checked,
# fetched once into the build folder. Defines the static library `sqlite3_amalgamation`.
set(sqlite_package better-sqlite3-12.4.1.tgz)
set(sqlite_package_sha256 14398acbf00d1e8fe0a2753df7d4f15c13138e4b874f4e6e96791f65b4536d0d)
set(sqlite_dir ${CMAKE_BINARY_DIR}/sqlite-amalgamation)

if(NOT EXISTS ${sqlite_dir}/package/deps/sqlite3/sqlite3.c)
  file(MAKE_DIRECTORY ${sqlite_dir})
  if(NOT EXISTS ${sqlite_dir}/${sqlite_package})
    find_program(NPM npm REQUIRED)
    execute_process(COMMAND ${NPM} pack better-sqlite3@12.4.1 --silent
                    WORKING_DIRECTORY ${sqlite_dir} RESULT_VARIABLE fetched TIMEOUT 300)
    if(NOT fetched EQUAL 0)
      message(FATAL_ERROR "could not fetch ${sqlite_package} with npm (status ${fetched})")
    endif()
  endif()
  file(SHA256 ${sqlite_dir}/${sqlite_package} got_sha256)
  if(NOT got_sha256 STREQUAL sqlite_package_sha256)
    file(REMOVE ${sqlite_dir}/${sqlite_package})
    message(FATAL_ERROR "${sqlite_package} is not the package expected (sha256 ${got_sha256})")
  endif()
  file(ARCHIVE_EXTRACT INPUT ${sqlite_dir}/${sqlite_package} DESTINATION ${sqlite_dir}
       PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
endif()

enable_language(C)
add_library(sqlite3_amalgamation STATIC ${sqlite_dir}/package/deps/sqlite3/sqlite3.c)
target_include_directories(sqlite3_amalgamation SYSTEM PUBLIC ${sqlite_dir}/package/deps/sqlite3)
# Not our code: its warnings are not ours to fix, and -O2 builds it in half the time of -O3.
target_compile_options(sqlite3_amalgamation PRIVATE -w -O2)
# FTS5 searches the index of answers by their parts, as Debian's SQLite does.
target_compile_definitions(sqlite3_amalgamation PRIVATE SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0 SQLITE_ENABLE_FTS5)
