# Sets TARVO_CLANGXX and TARVO_FUZZ_TOOLCHAIN_FOUND: a clang++ whose libFuzzer runtime exists.
find_program(TARVO_CLANGXX NAMES clang++ clang++-19 clang++-18 clang++-17 clang++-16 clang++-15
                                 clang++-14)
set(TARVO_FUZZ_TOOLCHAIN_FOUND OFF)
set(TARVO_FUZZER_RUNTIME "")
if(TARVO_CLANGXX)
    execute_process(
        COMMAND ${TARVO_CLANGXX} -print-file-name=libclang_rt.fuzzer-${CMAKE_SYSTEM_PROCESSOR}.a
        OUTPUT_VARIABLE TARVO_FUZZER_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${TARVO_FUZZER_RUNTIME}" AND EXISTS "${TARVO_FUZZER_RUNTIME}")
        set(TARVO_FUZZ_TOOLCHAIN_FOUND ON)
    endif()
endif()
