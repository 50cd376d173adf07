/*
 * Machine-dependent JNI definitions for Windows builds made on a non-Windows
 * machine.  The JDK installed here ships only the Linux variant of this
 * header, whose types and calling convention are wrong for Windows: on i686
 * the JVM's functions are __stdcall, and a caller compiled with the Linux
 * header would call them as __cdecl and corrupt the stack without any
 * compiler diagnostic.  The cross toolchains put this directory ahead of the
 * JDK's include directory and never add include/linux.
 */
#ifndef KQ_WINDOWS_JNI_MD_H_
#define KQ_WINDOWS_JNI_MD_H_

#ifndef _WIN32
#error "cmake/windows/jni_md.h is for Windows targets only"
#endif

#ifdef _JAVASOFT_JNI_MD_H_
#error "another jni_md.h was included before the Windows one; check the include order"
#endif
/* Keeps any other jni_md.h that is reached later from adding its typedefs. */
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

/* long is 32 bits on Windows (LLP64), both for i686 and x86_64. */
typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

/* Fails to compile when a type has the wrong width. */
typedef char kq_jni_md_jint_is_32_bits[sizeof(jint) == 4 ? 1 : -1];
typedef char kq_jni_md_jlong_is_64_bits[sizeof(jlong) == 8 ? 1 : -1];

#endif /* KQ_WINDOWS_JNI_MD_H_ */
