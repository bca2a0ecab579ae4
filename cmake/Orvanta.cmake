# Build rules shared by every module and by all three trees:
#   build/native  host Linux, clang with ASan+UBSan: unit tests, tools, fuzzers,
#                 and the test hub that also runs the Windows trees' tests;
#   build/win32   i686-w64-mingw32: the PE32 deliverables;
#   build/win64   x86_64-w64-mingw32: 64-bit builds for fast checks under wine64.

set(ORVANTA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(ORVANTA_WIN32_DIR ${CMAKE_SOURCE_DIR}/build/win32 CACHE PATH "i686 build tree")
set(ORVANTA_WIN64_DIR ${CMAKE_SOURCE_DIR}/build/win64 CACHE PATH "x86_64 build tree")
set(ORVANTA_WINEPREFIX ${CMAKE_SOURCE_DIR}/build/wineprefix CACHE PATH "Wine prefix shared by the test run")

if(WIN32)
  set(ORVANTA_HUB OFF)
  enable_language(RC)
  # No mingw DLL beside our programs: the compiler runtime is linked in.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The same sources give the same bytes in any tree: no link time in the
  # PE header, and the debug information (and __FILE__) names the sources
  # relative to the source tree and the generated files under "build",
  # never the folders of this checkout (the build tree may lie inside the
  # source tree, so its mapping comes last, which gcc lets win).
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
  add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
else()
  set(ORVANTA_HUB ON)
  option(ORVANTA_SANITIZE "Build with ASan and UBSan" ON)
  if(ORVANTA_SANITIZE)
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_compile_options(${_san})
    add_link_options(${_san})
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(ORVANTA_FUZZ ON)
    # Coverage for libFuzzer in every object; only fuzz targets link the driver.
    add_compile_options(-fsanitize=fuzzer-no-link)
  else()
    set(ORVANTA_FUZZ OFF)
  endif()
endif()

set(ORVANTA_WARNINGS -Wall -Wextra -Werror -Wno-unused-parameter)

# A module library: static, with the repository root on its include path.
function(orv_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ORVANTA_WARNINGS})
endfunction()

function(orv_program name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ORVANTA_WARNINGS})
endfunction()

# A GoogleTest program beside its module. Natively it is the `unit` test
# NAME; the hub also runs the x86_64 build of the same program under wine64
# and the i686 build under wine32, the latter only where the kernel runs
# i386 programs directly (under qemu-i386 it is reported as skipped).
#   orv_unit_test(NAME SOURCES a_test.cpp ... LIBS lib ...)
function(orv_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${ORVANTA_WARNINGS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
  if(ORVANTA_HUB)
    add_test(NAME unit.${name} COMMAND ${name})
    set_tests_properties(unit.${name} PROPERTIES LABELS unit TIMEOUT 600)
    orv_wine_test(wine64.${name} 64 ${ORVANTA_WIN64_DIR}/bin/${name}.exe)
    orv_wine_test(wine32.${name} 32 ${ORVANTA_WIN32_DIR}/bin/${name}.exe)
    set_tests_properties(wine32.${name} PROPERTIES SKIP_RETURN_CODE 77
      ENVIRONMENT "ORVANTA_WINEPREFIX=${ORVANTA_WINEPREFIX};ORVANTA_WINE32_DIRECT_ONLY=1")
  endif()
endfunction()

# A Windows program run under Wine by the hub:
#   orv_wine_test(TESTNAME 64|32 EXE [ARGS...])
function(orv_wine_test testname bits exe)
  add_test(NAME ${testname}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/run ${bits} ${exe} ${ARGN})
  set_tests_properties(${testname} PROPERTIES
    LABELS wine${bits}
    FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "ORVANTA_WINEPREFIX=${ORVANTA_WINEPREFIX}"
    TIMEOUT 1200)
  if(bits EQUAL 32)
    orv_wine32_serial(${testname})
  endif()
endfunction()

# 32-bit Windows processes go through qemu-i386 here; two of them starting
# at once under one wineserver have hung a run for good, so the wine32
# tests never overlap each other (wine64 and native tests still run beside
# them).
function(orv_wine32_serial)
  set_property(TEST ${ARGN} APPEND PROPERTY RESOURCE_LOCK wine32)
endfunction()

# The link recipe of the self-extractor stub and of the PE test fixture: a
# GUI program without symbols or relocations (and, like every Windows
# module, without a time stamp), so that the resource section is the last
# section.
function(orv_stub_link_recipe target)
  target_link_options(${target} PRIVATE -mwindows -s -Wl,--disable-reloc-section)
endfunction()
