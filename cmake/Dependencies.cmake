# Finds the installed libraries and wraps each in one imported target:
#   qv::zlib, qv::lzo, qv::gcrypt  (linked only by the codec module's library)
#   qv::zstd                       (the binary deltas of patches; delta/ alone includes it)
#   GTest::gtest_main, benchmark::benchmark (tests and benchmarks)
# Nothing is downloaded or copied into the tree; scripts/setup.sh installs all of it.

function(qv_import name header lib)
  find_path(${name}_INCLUDE ${header})
  find_library(${name}_LIBRARY NAMES ${lib})
  if(NOT ${name}_INCLUDE OR NOT ${name}_LIBRARY)
    message(FATAL_ERROR "${name}: ${header} / lib${lib} not found; run scripts/setup.sh")
  endif()
  add_library(qv::${name} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(qv::${name} PROPERTIES
    IMPORTED_LOCATION "${${name}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${${name}_INCLUDE}")
endfunction()

if(WIN32)
  # Static archives, so that the executables stand alone.
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
endif()

qv_import(zlib zlib.h z)
qv_import(lzo lzo/lzo1x.h lzo2)
# Linux: Debian's libzstd-dev; mingw: the static library that setup builds beside LZO.
qv_import(zstd zstd.h zstd)
qv_import(gpgerror gpg-error.h gpg-error)
qv_import(gcrypt gcrypt.h gcrypt)
set_property(TARGET qv::gcrypt APPEND PROPERTY INTERFACE_LINK_LIBRARIES qv::gpgerror)
if(WIN32)
  set_property(TARGET qv::gpgerror APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32)
endif()

if(QV_BUILD_TESTS)
  if(WIN32)
    # Debian ships GoogleTest as source; build it with the cross compiler.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(QV_BUILD_BENCH AND NOT WIN32)
  find_package(benchmark REQUIRED)
endif()
