# Shared part of the MinGW-w64 cross toolchains.  The including file sets
# KQ_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.
#
# The compilers are the "-posix" variants (winpthreads thread model), which
# give GCC 12 a complete <thread>/<mutex>; everything, winpthreads included,
# is linked statically so that the outputs need nothing but system DLLs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)  # Windows 7 API level and later

foreach(_kq_tool IN ITEMS gcc g++)
  find_program(_kq_found NAMES ${KQ_MINGW_TRIPLET}-${_kq_tool}-posix NO_CACHE)
  if(NOT _kq_found)
    message(FATAL_ERROR "${KQ_MINGW_TRIPLET}-${_kq_tool}-posix not found; install "
                        "g++-mingw-w64-i686 and g++-mingw-w64-x86-64 (scripts/windows-build.sh --install)")
  endif()
  if(_kq_tool STREQUAL "gcc")
    set(CMAKE_C_COMPILER ${_kq_found})
  else()
    set(CMAKE_CXX_COMPILER ${_kq_found})
  endif()
  unset(_kq_found)
endforeach()
set(CMAKE_RC_COMPILER ${KQ_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KQ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the linker take libwinpthread.a instead of its import library.
set(_kq_static "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kq_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kq_static}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kq_static}")
unset(_kq_static)

# JNI headers: the JDK's platform-neutral jni.h plus our Windows jni_md.h.
# jni.h includes "jni_md.h", which is looked up in jni.h's own directory and
# then along the include path; the JDK keeps its (Linux) jni_md.h only in
# include/linux, so listing cmake/windows first and never include/linux is
# what makes the Windows types and JNICALL (__stdcall) win.  The Linux header
# would compile without complaint and call the JVM with the wrong convention
# on i686.
if(NOT KQ_JDK_HOME)
  if(DEFINED ENV{JAVA_HOME} AND EXISTS "$ENV{JAVA_HOME}/include/jni.h")
    set(KQ_JDK_HOME "$ENV{JAVA_HOME}")
  else()
    # As scripts/lib/java-home.sh: the first JDK 17 under /usr/lib/jvm,
    # whatever the machine's architecture.
    file(GLOB _kq_jdk17_headers /usr/lib/jvm/*17*/include/jni.h)
    if(_kq_jdk17_headers)
      list(GET _kq_jdk17_headers 0 _kq_jni_h)
      get_filename_component(KQ_JDK_HOME "${_kq_jni_h}/../.." ABSOLUTE)
    endif()
  endif()
endif()
set(KQ_JDK_HOME "${KQ_JDK_HOME}" CACHE PATH "JDK whose include/jni.h the cross build uses")
if(NOT EXISTS "${KQ_JDK_HOME}/include/jni.h")
  message(FATAL_ERROR "No jni.h under ${KQ_JDK_HOME}/include; set KQ_JDK_HOME")
endif()
get_filename_component(_kq_windows_jni "${CMAKE_CURRENT_LIST_DIR}/../windows" ABSOLUTE)
set(KQ_JNI_INCLUDE_DIRS "${_kq_windows_jni};${KQ_JDK_HOME}/include"
    CACHE STRING "JNI include directories of the cross build (our Windows jni_md.h first)")
list(GET KQ_JNI_INCLUDE_DIRS 0 _kq_first)
if(NOT _kq_first STREQUAL _kq_windows_jni OR KQ_JNI_INCLUDE_DIRS MATCHES "include/(linux|solaris|darwin|bsd)")
  message(FATAL_ERROR "KQ_JNI_INCLUDE_DIRS must start with ${_kq_windows_jni} and hold no "
                      "OS-specific JDK include directory: ${KQ_JNI_INCLUDE_DIRS}")
endif()
unset(_kq_first)
unset(_kq_windows_jni)
