# Script mode: stage the library, then configure, build and run the consumer against it.
# The stage is an install of BUILD_DIR under /opt/tarvo, or, when PACKAGES names Debian
# packages, those packages unpacked under /usr.
file(REMOVE_RECURSE ${WORK_DIR})
set(stage ${WORK_DIR}/stage)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(PACKAGES)
    set(prefix /usr)
    file(MAKE_DIRECTORY ${stage})
    foreach(package IN LISTS PACKAGES)
        run(dpkg-deb -x ${package} ${stage})
    endforeach()
else()
    set(prefix /opt/tarvo)
    set(ENV{DESTDIR} ${stage})
    run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
    unset(ENV{DESTDIR})
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/host -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${stage}${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
run(${WORK_DIR}/host/host)
if(NOT last_output MATCHES "Version Number: 2\\.1\\.1")
    message(FATAL_ERROR "the host did not show the control's version: ${last_output}")
endif()
