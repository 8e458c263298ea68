# Shared build settings of both trees.

if(WIN32)
  enable_language(RC)
  # Programs, plug-ins and the simulated ASPI layer side by side, as Windows
  # finds them: in the program's own directory.
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  # Static runtime: the programs run on a bare Windows or Wine.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# The native console tools are linked statically: they run from the build
# tree on a bare system (the stack bench's initramfs) and a check starts in a
# fraction of the time. Not under the sanitizers, and not in the package's
# tree, which links them as Debian links its programs.
if(NOT WIN32 AND NOT CORVANE_SANITIZE AND NOT CORVANE_TSAN AND NOT CORVANE_FUZZ
   AND NOT CORVANE_PACKAGE)
  set(corvane_static_tools ON)
endif()

if(CORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CORVANE_FUZZ)
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Warnings are errors in our own code; third-party code keeps its own flags.
function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
endfunction()

# GoogleTest from the distribution's sources, built with this tree's compiler.
if(NOT TARGET gtest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# clang-tidy over every target defined from here on (the googletest targets
# above keep their own code unchecked); its findings fail the build.
if(CORVANE_TIDY)
  find_program(CORVANE_CLANG_TIDY NAMES clang-tidy-14 clang-tidy REQUIRED)
  set(CMAKE_CXX_CLANG_TIDY ${CORVANE_CLANG_TIDY})
endif()

# CTest labels of a test: its tree's (native or wine) and the given ones
# (e2e, serial, ...), so that ctest -L picks a kind of test.
function(corvane_test_labels name)
  if(WIN32)
    set(tree wine)
  else()
    set(tree native)
  endif()
  set_property(TEST ${name} APPEND PROPERTY LABELS ${tree} ${ARGN})
endfunction()

# A test program: GoogleTest main, our warnings, registered with CTest. Each
# run leaves its cases' results in test-reports/<name>.xml of the tree, so a
# failure names its case without one Wine start per case. Under the Windows
# tree CTest runs it through the Wine runner, after the prefix is made.
function(corvane_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  corvane_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock gtest_main)
  set(report ${CMAKE_BINARY_DIR}/test-reports/${name}.xml)
  if(WIN32)
    set(report Z:${report}) # Wine's drive for the Linux root
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 --gtest_output=xml:${report})
  corvane_test_labels(${name} ${T_LABELS})
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()

# A Windows test program with windows: under Wine it starts once its session's
# desktop is up (tools/wine-run.sh). After its other test properties.
function(corvane_windowed_test name)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT CORVANE_WINE_DESKTOP=1)
  add_dependencies(${name} desktop_hold)
endfunction()
