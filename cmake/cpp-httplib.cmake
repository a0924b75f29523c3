# cpp-httplib, header-only, for `profiledesk-records serve`: the same header in every build,
# the Windows one too. Debian packages it only as a Linux library, and bookworm's 0.11 bounds
# neither how many headers a request has nor how long its lines are; so the header comes from
# Debian's source package of a later release, with Debian's patches (scripts/fetch_cpp_httplib.sh),
# fetched once into build/downloads for every preset. A distribution that has a header of 0.18
# or later names its folder instead. Defines the interface library `cpp_httplib`.
set(PROFILEDESK_HTTPLIB_DIR "" CACHE PATH "A folder holding cpp-httplib's httplib.h, 0.18 or later (fetched when empty)")

set(httplib_dir ${PROFILEDESK_HTTPLIB_DIR})
if(NOT httplib_dir)
  set(httplib_dir ${CMAKE_SOURCE_DIR}/build/downloads/cpp-httplib)
  if(NOT EXISTS ${httplib_dir}/httplib.h)
    message(STATUS "Fetching cpp-httplib from Debian's source package")
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch_cpp_httplib.sh ${httplib_dir}
                    RESULT_VARIABLE fetched TIMEOUT 600)
    if(NOT fetched EQUAL 0)
      message(FATAL_ERROR "could not fetch cpp-httplib (status ${fetched}); "
                          "or name a folder holding httplib.h with -DPROFILEDESK_HTTPLIB_DIR=")
    endif()
  endif()
endif()

# The bounds the server relies on came in 0.18 with Debian's patches (the count of headers).
file(STRINGS ${httplib_dir}/httplib.h httplib_version REGEX "^#define CPPHTTPLIB_VERSION \"")
file(STRINGS ${httplib_dir}/httplib.h httplib_header_count REGEX "^#define CPPHTTPLIB_HEADER_MAX_COUNT ")
string(REGEX REPLACE "^#define CPPHTTPLIB_VERSION \"([0-9.]+)\".*" "\\1" httplib_version "${httplib_version}")
if(httplib_version VERSION_LESS 0.18 OR NOT httplib_header_count)
  message(FATAL_ERROR "${httplib_dir}/httplib.h is cpp-httplib ${httplib_version}: the server needs 0.18 or "
                      "later, with a bound on the number of headers")
endif()

add_library(cpp_httplib INTERFACE)
target_include_directories(cpp_httplib SYSTEM INTERFACE ${httplib_dir})
if(WIN32)
  # Its #pragma comment(lib) is for Microsoft's linker alone.
  target_link_libraries(cpp_httplib INTERFACE ws2_32)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(cpp_httplib INTERFACE Threads::Threads)
endif()
