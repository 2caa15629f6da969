#pragma once
// Included first into every file of a fuzzing build (see instrumentation.cmake):
// clang 16 can build libstdc++'s <expected> but announces an older concepts
// level (201907), which hides it; later releases get the same treatment while
// they announce less than 202002.
#if defined(__clang__) && __clang_major__ >= 16 && __cpp_concepts < 202002L
#undef __cpp_concepts
#define __cpp_concepts 202002L
#endif
