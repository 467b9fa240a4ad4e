# Fails unless the shared library LIBRARY exports CenterVendor and no symbol of the
# library's internal namespaces (run with cmake -DLIBRARY=... -DNM=... -P).
execute_process(COMMAND ${NM} -DC --defined-only ${LIBRARY}
    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
if(NOT symbols MATCHES "CenterVendor::LetDataFromDatabase")
    message(FATAL_ERROR "${LIBRARY} does not export CenterVendor")
endif()
string(REGEX MATCHALL "[^\n]*tarvo::[^\n]*" internal "${symbols}")
if(internal)
    list(JOIN internal "\n" shown)
    message(FATAL_ERROR "${LIBRARY} exports internal symbols:\n${shown}")
endif()
