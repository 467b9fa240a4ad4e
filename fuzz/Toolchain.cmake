# Finds a clang++ that can link libFuzzer: TARVO_CLANGXX, and TARVO_FUZZ_TOOLCHAIN true when
# one is there. Included before the option, whose default it sets.
find_program(TARVO_CLANGXX NAMES clang++ clang++-19 clang++-18 clang++-17 clang++-16 clang++-15
                                 clang++-14)
set(TARVO_FUZZ_TOOLCHAIN OFF)
if(TARVO_CLANGXX)
    execute_process(
        COMMAND ${TARVO_CLANGXX} -print-file-name=libclang_rt.fuzzer-${CMAKE_SYSTEM_PROCESSOR}.a
        OUTPUT_VARIABLE tarvo_fuzzer_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${tarvo_fuzzer_runtime}" AND EXISTS "${tarvo_fuzzer_runtime}")
        set(TARVO_FUZZ_TOOLCHAIN ON)
    endif()
endif()
