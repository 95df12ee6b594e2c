# The libFuzzer build (TARNIX_FUZZ): every library is instrumented for coverage and built with
# AddressSanitizer and UndefinedBehaviorSanitizer; only the fuzz targets get libFuzzer's main.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARNIX_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()
set(TARNIX_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer -g)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fsanitize=fuzzer-no-link;${TARNIX_FUZZ_FLAGS}>")
add_link_options(-fsanitize=address,undefined)
