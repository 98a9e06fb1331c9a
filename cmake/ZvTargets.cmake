# Helpers shared by every area of the project.

function(zv_configure_sanitizers)
  string(TOLOWER "${ZV_SANITIZE}" mode)
  if(mode STREQUAL "on" OR mode STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  elseif(mode STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  elseif(NOT mode STREQUAL "off" AND NOT mode STREQUAL "")
    message(FATAL_ERROR "ZV_SANITIZE must be OFF, address or thread (got ${ZV_SANITIZE})")
  endif()
  # With optimisation, GCC's flow analysis of instrumented code reports uninitialised reads that
  # are not there (seen in std::regex and in an optional's copy); clang and unsanitized builds
  # keep the warning.
  if(NOT mode STREQUAL "off" AND NOT mode STREQUAL "" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  if(NOT mode STREQUAL "off" AND NOT mode STREQUAL "")
    set(ZV_SANITIZER_BUILD ON PARENT_SCOPE)
  else()
    set(ZV_SANITIZER_BUILD OFF PARENT_SCOPE)
  endif()
endfunction()

# A sanitizer build exists to run the tests under a checker, and compiles slowest: its libraries
# share precompiled standard and foundation headers (cmake/ProductPrecompiled.h, owned by
# platform_foundation). The plain and Release builds compile every source on its own, so they
# still find a source that does not include what it uses. A source whose own names clash with
# what those headers declare is listed in ZV_OWN_HEADERS_ONLY and compiled without them.
set(ZV_OWN_HEADERS_ONLY
  # Its quoted() meets std::quoted through argument-dependent lookup once <iomanip> is seen.
  src/platform/net/HTTPAuthentication.cpp)

function(zv_product_precompile_headers target sources)
  if(NOT ZV_SANITIZER_BUILD)
    return()
  endif()
  if(target STREQUAL "platform_foundation")
    target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/ProductPrecompiled.h)
  else()
    target_precompile_headers(${target} REUSE_FROM platform_foundation)
  endif()
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH inside ${PROJECT_SOURCE_DIR} ${source})
    if(inside IN_LIST ZV_OWN_HEADERS_ONLY)
      set_source_files_properties(${source} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
  endforeach()
endfunction()

function(zv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # GCC 12 misreads the copies that std::string's operator+ inlines as overlapping once optimised
  # (a known false -Wrestrict of that release, seen at -O3); later releases and clang do not.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# Drops from the list named by `var` the sources whose path matches one of the EXCLUDE patterns.
# The path matched is the one inside the project, with a leading "/" ("/src/http/ui/X.cpp"), so a
# pattern never matches the folders the checkout itself sits in.
function(zv_exclude_sources var patterns)
  set(kept)
  foreach(source IN LISTS ${var})
    file(RELATIVE_PATH inside ${PROJECT_SOURCE_DIR} ${source})
    set(excluded FALSE)
    foreach(pattern IN LISTS patterns)
      if("/${inside}" MATCHES "${pattern}")
        set(excluded TRUE)
      endif()
    endforeach()
    if(NOT excluded)
      list(APPEND kept ${source})
    endif()
  endforeach()
  set(${var} ${kept} PARENT_SCOPE)
endfunction()

# zv_library(NAME [DEPS target...]) builds every .cpp under the current folder (recursively)
# into a static library. Folders that hold a library of their own must not sit under another
# library's folder.
function(zv_library name)
  cmake_parse_arguments(A "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  zv_exclude_sources(sources "${A_EXCLUDE}")
  if(NOT sources)
    # Interfaces only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${A_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  zv_warnings(${name})
  zv_product_precompile_headers(${name} "${sources}")
endfunction()

# Test code is compiled for a quick build and for debugging: in the optimised build types its own
# sources get -Og and line tables only (-g1: backtraces and breakpoints by line; a third less
# compile time than full debug information), while the libraries under test keep the build type's
# flags. A Debug build gives test code full debug information. Test targets use the precompiled
# headers of a test support library (zv_test_precompile_headers), so GoogleTest and the common
# headers are read once per build, not once per source.
function(zv_test_code_options target)
  target_compile_options(${target} PRIVATE "$<$<NOT:$<CONFIG:Debug>>:-Og;-g1>")
endfunction()

# zv_test_precompile_headers(TARGET HEADER) makes TARGET the owner of the precompiled HEADER
# (a path under tests/), which other test targets reuse.
function(zv_test_precompile_headers target header)
  target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/${header})
endfunction()

# zv_test(NAME [DEPS target...] [LABELS label...] [PCH owner]) builds every .cpp under the
# current test folder into one GoogleTest executable and registers its tests with CTest. Each
# label is put on every test of the executable, and the executable joins the target
# `tests_label_<label>`, so a build can compile just the tests of one label (the ThreadSanitizer
# job builds `tests_label_threads`). PCH names the support library whose precompiled headers the
# sources reuse (default zv_test_main; the owner must be among what the test links).
function(zv_test name)
  cmake_parse_arguments(A "" "PCH" "DEPS;EXCLUDE;LABELS" ${ARGN})
  if(NOT A_PCH)
    set(A_PCH zv_test_main)
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  zv_exclude_sources(sources "${A_EXCLUDE}")
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock zv_test_main)
  zv_warnings(${name})
  zv_test_code_options(${name})
  target_precompile_headers(${name} REUSE_FROM ${A_PCH})
  set(label_properties)
  if(A_LABELS)
    list(JOIN A_LABELS ";" joined)
    set(label_properties LABELS "${joined}")
    foreach(label IN LISTS A_LABELS)
      if(NOT TARGET tests_label_${label})
        add_custom_target(tests_label_${label})
      endif()
      add_dependencies(tests_label_${label} ${name})
    endforeach()
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "ZV_TEST_OUTPUT=${PROJECT_BINARY_DIR}/test-output" ${label_properties})
endfunction()
