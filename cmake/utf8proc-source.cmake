# utf8proc for the Windows build: Debian has no mingw-w64 utf8proc, so the source that Debian 12
# builds its libutf8proc2 from (the upstream release, which Debian does not patch) is fetched
# once into the build folder, pinned and checked, and built as a static C library. Both builds
# then fold case with the same code and the same Unicode data. Defines `utf8proc_static`.
set(utf8proc_version 2.8.0)
set(utf8proc_archive utf8proc_${utf8proc_version}.orig.tar.gz)
# As listed in the source package's utf8proc_2.8.0-1.dsc.
set(utf8proc_archive_sha256 a0a60a79fe6f6d54e7d411facbfcc867a6e198608f2cd992490e46f04b1bcecc)
set(utf8proc_url http://deb.debian.org/debian/pool/main/u/utf8proc/${utf8proc_archive})
set(utf8proc_dir ${CMAKE_BINARY_DIR}/utf8proc-source)
set(utf8proc_source ${utf8proc_dir}/utf8proc-${utf8proc_version})

if(NOT EXISTS ${utf8proc_source}/utf8proc.c)
  file(MAKE_DIRECTORY ${utf8proc_dir})
  # The hash is checked whoever serves the file: a plain HTTP mirror is as good as any.
  file(DOWNLOAD ${utf8proc_url} ${utf8proc_dir}/${utf8proc_archive}
       EXPECTED_HASH SHA256=${utf8proc_archive_sha256} TIMEOUT 300 STATUS fetched)
  list(GET fetched 0 fetched_code)
  if(NOT fetched_code EQUAL 0)
    file(REMOVE ${utf8proc_dir}/${utf8proc_archive})
    list(GET fetched 1 fetched_reason)
    message(FATAL_ERROR "could not fetch ${utf8proc_archive}: ${fetched_reason}")
  endif()
  file(ARCHIVE_EXTRACT INPUT ${utf8proc_dir}/${utf8proc_archive} DESTINATION ${utf8proc_dir}
       PATTERNS utf8proc-${utf8proc_version}/utf8proc.c utf8proc-${utf8proc_version}/utf8proc.h
                utf8proc-${utf8proc_version}/utf8proc_data.c utf8proc-${utf8proc_version}/LICENSE.md)
endif()

enable_language(C)
add_library(utf8proc_static STATIC ${utf8proc_source}/utf8proc.c)
target_include_directories(utf8proc_static SYSTEM PUBLIC ${utf8proc_source})
# Linked in, not imported from a DLL.
target_compile_definitions(utf8proc_static PUBLIC UTF8PROC_STATIC)
# Not our code: its warnings are not ours to fix.
target_compile_options(utf8proc_static PRIVATE -w)
