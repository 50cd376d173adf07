# 32-bit Linux build (-m32) on an x86_64 Debian with i386 multiarch, against
# the i386 JDK 17, so that the plug-in, the test rig and kqhost run in a
# 32-bit process and a 32-bit VM as on a 32-bit host:
#   cmake -S . -B build-m32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/linux-i686.cmake
# (or cmake --preset linux-m32).  Needs g++-multilib, openjdk-17-jdk-headless:i386,
# libssl-dev:i386 and libgtest-dev:i386 (scripts/setup.sh).
#
# The system name stays Linux, so this is not a cross build for CMake: the
# programs run here and the JVM tests link the i386 libjvm.so.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
# The i386 libjvm.so refers to symbols of libraries it loads itself (libjava,
# ...), which a program linking it need not resolve; 64-bit JDKs do not show this.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -Wl,--allow-shlib-undefined")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Libraries and packages of the i386 architecture only; headers are shared.
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE i686-linux-gnu-pkg-config CACHE FILEPATH "")

# The 32-bit JDK: every Java tool of the build (javac for the test jars) and
# the JNI headers and libjvm come from it, whatever JAVA_HOME says.
if(NOT KQ_M32_JDK)
  set(KQ_M32_JDK /usr/lib/jvm/java-17-openjdk-i386)
endif()
set(KQ_M32_JDK "${KQ_M32_JDK}" CACHE PATH "The i386 JDK 17 of the 32-bit build")
if(NOT EXISTS "${KQ_M32_JDK}/lib/server/libjvm.so")
  message(FATAL_ERROR "No 32-bit JDK at ${KQ_M32_JDK} (apt-get install openjdk-17-jdk-headless:i386, "
                      "or set KQ_M32_JDK)")
endif()
set(JAVA_HOME "${KQ_M32_JDK}")
set(ENV{JAVA_HOME} "${KQ_M32_JDK}")
# The VM `java` itself runs (the first of lib/jvm.cfg) and kqhost --java-home
# loads: server, not the client VM that FindJNI would pick first.
set(JAVA_JVM_LIBRARY "${KQ_M32_JDK}/lib/server/libjvm.so" CACHE FILEPATH "The 32-bit VM the JVM tests link")
