# Build options shared by the native and the Windows trees.

option(SHARDIX_WITH_NTFSIMAGE "Reach NTFS images through libntfs-3g where it is found" ON)
option(SHARDIX_BUILD_BENCHMARKS "Build the benchmarks in bench/" OFF)
option(SHARDIX_BUILD_FUZZERS "Build the libFuzzer targets in fuzz/ (clang only)" OFF)
set(SHARDIX_SANITIZE "" CACHE STRING
    "Sanitizers for the whole tree, e.g. address,undefined (gcc or clang)")
option(SHARDIX_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

if(MSVC)
  add_compile_options(/W4 /utf-8)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
else()
  add_compile_options(-Wall -Wextra)
  if(SHARDIX_WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
  endif()
endif()

if(SHARDIX_SANITIZE)
  add_compile_options(-fsanitize=${SHARDIX_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${SHARDIX_SANITIZE})
endif()
if(SHARDIX_BUILD_FUZZERS)
  # Coverage for libFuzzer in every library the targets link.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Debian's hardening for the programs we ship: checked buffer functions, a
# stack protector, and a read-only relocation table bound at start-up. Not
# with the sanitizers, which bring their own checks.
if(NOT WIN32 AND NOT MSVC AND NOT SHARDIX_SANITIZE AND NOT SHARDIX_BUILD_FUZZERS)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

if(WIN32)
  # One binary that needs nothing copied beside it.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  if(MINGW)
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
endif()

# GoogleTest: the system's package where there is one (native Debian,
# vcpkg, ...), otherwise built from its sources (the cross tree builds it from
# Debian's /usr/src/googletest; elsewhere point GOOGLETEST_SOURCE_DIR at a
# checkout).
set(GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for trees without a GTest package")
function(shardix_find_gtest)
  if(TARGET GTest::gtest_main)
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(GTest QUIET)
  endif()
  if(NOT GTest_FOUND)
    if(EXISTS "${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
      set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      add_subdirectory("${GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
      # GoogleTest 1.11 and later name their targets GTest::... themselves.
      foreach(lib gtest gtest_main gmock)
        if(NOT TARGET GTest::${lib})
          add_library(GTest::${lib} ALIAS ${lib})
        endif()
      endforeach()
    else()
      message(FATAL_ERROR "GoogleTest not found: install libgtest-dev/googletest or set GOOGLETEST_SOURCE_DIR")
    endif()
  endif()
endfunction()

# Where the programs go when installed: bin/ on Linux; on Windows the archive's
# top folder holds Shardix.exe and help\, and cli\ the command line (the two
# names differ only in case, which Windows folders do not tell apart).
include(GNUInstallDirs)
if(WIN32)
  set(SHARDIX_INSTALL_BINDIR ".")
  set(SHARDIX_INSTALL_CLIDIR "cli")
else()
  set(SHARDIX_INSTALL_BINDIR "${CMAKE_INSTALL_BINDIR}")
  set(SHARDIX_INSTALL_CLIDIR "${CMAKE_INSTALL_BINDIR}")
endif()
