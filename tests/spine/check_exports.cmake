# The shared library exports CreateInstance and nothing else, and does not
# depend on libjvm (the JVM is the host's).
#   cmake -DLIBRARY=... -DNM=... -DREADELF=... -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(exported)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  # The version-script node and the sanitizer runtime's own are not ours.
  if(NOT name MATCHES "^(__asan|__ubsan|__sanitizer|__lsan)" AND NOT line MATCHES " A ")
    list(APPEND exported ${name})
  endif()
endforeach()
if(NOT exported STREQUAL "CreateInstance")
  message(FATAL_ERROR "exported: ${exported} (want only CreateInstance)")
endif()

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
if(dynamic MATCHES "libjvm")
  message(FATAL_ERROR "${LIBRARY} depends on libjvm")
endif()
message(STATUS "exports: ${exported}")
