# Build settings shared by every preset, and the helpers the subdirectories use to declare
# JNI libraries and tests.

add_compile_options(-Wall -Wextra)

# One commit gives the same bytes wherever its tree lies: no build folder in the binaries (the
# build tree lies inside the source tree, so it is named second and matched first).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=pathmere/ -ffile-prefix-map=${CMAKE_BINARY_DIR}/=pathmere-build/)

if(WIN32)
  enable_language(RC)
  set(PATHMERE_WINDOWS ON)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(PATHMERE_BITS 64)
  else()
    set(PATHMERE_BITS 32)
  endif()
  add_compile_definitions(UNICODE_DISABLED WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # Only system DLLs may be needed on the target: the C and C++ runtimes and winpthreads go in.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # ... and whenever it is built: the linker would write the time of linking into the PE header
  # and the export directory; 0 stands for "no time" there.
  add_link_options(-Wl,--no-insert-timestamp)
  # Win32 tests run under wine64 through the wrapper, which owns the prefix and the wineserver.
  if(PATHMERE_BITS EQUAL 64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run)
  endif()
else()
  set(PATHMERE_WINDOWS OFF)
  set(PATHMERE_BITS 64)
  option(PATHMERE_SANITIZE "Build host code with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
  if(PATHMERE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# JNI: jni.h from the host JDK, jni_md.h for Windows is our own.
if(NOT DEFINED PATHMERE_JDK_INCLUDE)
  set(_jdk_candidates)
  if(DEFINED ENV{JAVA_HOME})
    list(APPEND _jdk_candidates $ENV{JAVA_HOME}/include)
  endif()
  file(GLOB _jdk_globbed /usr/lib/jvm/java-17-openjdk-*/include /usr/lib/jvm/*/include)
  list(APPEND _jdk_candidates ${_jdk_globbed})
  foreach(dir ${_jdk_candidates})
    if(EXISTS ${dir}/jni.h)
      set(PATHMERE_JDK_INCLUDE ${dir} CACHE PATH "Directory holding the JDK's jni.h")
      break()
    endif()
  endforeach()
endif()
if(NOT PATHMERE_JDK_INCLUDE)
  message(FATAL_ERROR "No JDK include directory with jni.h found; set JAVA_HOME")
endif()

add_library(pathmere_jni INTERFACE)
if(WIN32)
  target_include_directories(pathmere_jni SYSTEM INTERFACE ${CMAKE_SOURCE_DIR}/third_party/jni/win ${PATHMERE_JDK_INCLUDE})
else()
  target_include_directories(pathmere_jni SYSTEM INTERFACE ${PATHMERE_JDK_INCLUDE}/linux ${PATHMERE_JDK_INCLUDE})
endif()

# pathmere_jni_library(<target> OUTPUT_DIR <dir> EXPORTS <name:argbytes>... SOURCES ... LIBS ...)
# Builds a JNI DLL. On i686 the JVM looks an export up by its decorated __stdcall name
# (_Java_pkg_Cls_m@12) and by its plain name, so a .def file exports both for each listed function.
function(pathmere_jni_library target)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR;OUTPUT_NAME" "EXPORTS;SOURCES;LIBS;DEFINITIONS" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE pathmere_jni ${ARG_LIBS})
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  set_target_properties(${target} PROPERTIES PREFIX "")
  if(WIN32)
    target_link_options(${target} PRIVATE -s)
  endif()
  if(ARG_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  if(ARG_OUTPUT_DIR)
    set_target_properties(${target} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/${ARG_OUTPUT_DIR}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/${ARG_OUTPUT_DIR})
  endif()
  if(WIN32 AND PATHMERE_BITS EQUAL 32 AND ARG_EXPORTS)
    set(def "EXPORTS\n")
    foreach(entry ${ARG_EXPORTS})
      string(REPLACE ":" ";" parts ${entry})
      list(GET parts 0 name)
      list(GET parts 1 bytes)
      string(APPEND def "  _${name}@${bytes} = ${name}@${bytes}\n  ${name} = ${name}@${bytes}\n")
    endforeach()
    set(def_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
    file(WRITE ${def_file} "${def}")
    target_sources(${target} PRIVATE ${def_file})
  endif()
endfunction()

# Tests. Host tests link GoogleTest natively; Windows tests are cross-built with GoogleTest from
# the distribution's sources and run by ctest through the Wine wrapper (win64 only).
if(NOT TARGET GTest::gtest_main)
  if(WIN32)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gtest ALIAS gtest)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
include(GoogleTest)

# pathmere_gtest(<target> SOURCES ... LIBS ... [RESOURCE_LOCK name]): a GoogleTest program whose
# cases ctest lists. Windows test programs are listed and run at test time (under Wine), never at
# build time. Cases of programs that share a RESOURCE_LOCK (the launcher's fixed registry keys in
# the one test prefix, say) never run at the same time.
function(pathmere_gtest target)
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  set(lock)
  if(ARG_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE GTest::gtest_main ${ARG_LIBS})
  if(WIN32)
    if(PATHMERE_BITS EQUAL 64)
      gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 600
        PROPERTIES TIMEOUT 120 LABELS win ${lock})
    endif()
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120 LABELS host ${lock})
  endif()
endfunction()
