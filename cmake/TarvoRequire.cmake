# tarvo_require(<what needs it> <find_package name> "<Debian packages>" [find_package arguments])
# Finds a package that part of this build cannot do without; otherwise stops at configure time
# naming the Debian packages that provide it (./scripts/setup.sh installs them all). A macro,
# so that the variables find_package sets stay visible to the caller.
macro(tarvo_require what name debian_packages)
    find_package(${name} QUIET ${ARGN})
    if(NOT ${name}_FOUND)
        string(REPLACE ";" " " tarvo_wanted "${name};${ARGN}")
        message(FATAL_ERROR "${what}: ${tarvo_wanted} not found; install ${debian_packages}")
    endif()
endmacro()
