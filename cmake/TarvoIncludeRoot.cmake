# tarvo_include_root(<target> <folder> <scope>): the target's headers are reached as
# "<folder>/Header.h" through an include root of its own, a build folder holding only a link
# named <folder> to the part's source folder. A part that does not link <target> cannot
# include its headers, so the compiler keeps the dependencies pointing the way CMake declares.
function(tarvo_include_root target folder scope)
    string(REPLACE "/" "_" key "${folder}")
    set(root ${CMAKE_BINARY_DIR}/include-roots/${key})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${folder})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} ${root})
endfunction()
