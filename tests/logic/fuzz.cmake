# The libFuzzer targets of fuzz/ need clang++ for every object they link, so they are built
# as a separate project and run for a bounded time as tests labelled "fuzz".
set(TARVO_FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzz test runs")

if(TARVO_BUILD_FUZZERS)
    if(NOT TARVO_FUZZ_TOOLCHAIN_FOUND)
        message(FATAL_ERROR "The fuzz tests need clang++ and libFuzzer: install clang and "
                            "libclang-rt-14-dev (or the one matching that clang), or configure "
                            "with -DTARVO_BUILD_FUZZERS=OFF")
    endif()
    include(ExternalProject)
    set(tarvo_fuzz_source ${CMAKE_CURRENT_LIST_DIR}/../../fuzz)
    set(tarvo_fuzz_build ${CMAKE_CURRENT_BINARY_DIR}/fuzz-build)
    set(tarvo_fuzzers fuzz_urlencode fuzz_forms fuzz_answer fuzz_statement_parser
        fuzz_server_answer)
    list(TRANSFORM tarvo_fuzzers PREPEND ${tarvo_fuzz_build}/ OUTPUT_VARIABLE tarvo_fuzz_bins)

    # Part of the default build, and rebuilt on every build so edits to the logic reach it.
    ExternalProject_Add(tarvo_fuzzers
        SOURCE_DIR ${tarvo_fuzz_source}
        BINARY_DIR ${tarvo_fuzz_build}
        CMAKE_ARGS
            -DCMAKE_CXX_COMPILER=${TARVO_CLANGXX}
            -DCMAKE_BUILD_TYPE=RelWithDebInfo
            -DTARVO_WERROR=${TARVO_WERROR}
        BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --parallel 2
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${tarvo_fuzz_bins})

    foreach(fuzzer IN LISTS tarvo_fuzzers)
        # New inputs go to a corpus in the build tree; the committed seeds stay untouched.
        set(work ${CMAKE_CURRENT_BINARY_DIR}/fuzz-work/${fuzzer})
        file(MAKE_DIRECTORY ${work}/corpus ${work}/artifacts)
        add_test(NAME fuzz.${fuzzer}
            COMMAND ${tarvo_fuzz_build}/${fuzzer}
                -max_total_time=${TARVO_FUZZ_SECONDS}
                -artifact_prefix=${work}/artifacts/
                ${work}/corpus
                ${tarvo_fuzz_source}/corpus/${fuzzer}
            WORKING_DIRECTORY ${work})
        math(EXPR tarvo_fuzz_timeout "${TARVO_FUZZ_SECONDS} + 120")
        set_tests_properties(fuzz.${fuzzer} PROPERTIES
            LABELS fuzz
            TIMEOUT ${tarvo_fuzz_timeout})
    endforeach()
endif()
