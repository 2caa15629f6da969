# Compiler flags of a fuzzing build: every object, the engine's included, gets
# libFuzzer's coverage instrumentation and the address and undefined-behaviour
# sanitizers; undefined behaviour aborts so that the fuzzer keeps the input.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "SORVANE_FUZZ needs clang (libFuzzer); this is ${CMAKE_CXX_COMPILER_ID}")
endif()

add_compile_options(
  -fsanitize=fuzzer-no-link,address,undefined
  -fno-sanitize-recover=undefined
  -fno-omit-frame-pointer
  -gline-tables-only)
add_link_options(-fsanitize=address,undefined)

# libstdc++ 12 offers std::expected only when __cpp_concepts is at least
# 202002. clang 16 reports 201907 although it has what <expected> needs
# (conditionally trivial special members), so the fuzzing build raises the
# value for clang 16 and later whenever they report less. Older clang lacks
# that feature: with clang 14 <expected> stays empty, and raising the value
# only moves the failure into <expected> (its destructor is deleted).
add_compile_options("SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/clang_compat.h")
