# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
# cmake -DBUILD=<build> -DSOURCE=<source> -DWORK=<folder> -P tst_uninstall.cmake: installs the
# build into a prefix whose name holds [, ], *, ? and a space, puts a file of the user's into
# every folder there, uninstalls, and checks that every file of the user's stays and every
# installed file goes; then installs again beside one empty folder that was there before, and
# checks that uninstalling removes every folder the install made and only those.
cmake_minimum_required(VERSION 3.16)

set(prefix "${WORK}/opt/apps[1] *?")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_QUIET)
    if(failed)
        message(FATAL_ERROR "failed: ${ARGN}")
    endif()
endfunction()

function(install_and_uninstall with_user_files)
    run(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}")
    file(STRINGS "${BUILD}/install_manifest.txt" installed)
    execute_process(COMMAND find "${WORK}" -type d OUTPUT_VARIABLE folders)
    string(REGEX REPLACE "\n$" "" folders "${folders}")
    string(REPLACE "\n" ";" folders "${folders}")
    if(with_user_files)
        foreach(folder IN LISTS folders)
            file(WRITE "${folder}/user notes.txt" "the user's own")
        endforeach()
    endif()
    run(${CMAKE_COMMAND} -DTRANCHEL_INSTALL_RECORDS=${BUILD}/installs
        "-DTRANCHEL_INSTALL_PREFIX=${prefix}" -P "${SOURCE}/cmake/uninstall.cmake")
    foreach(file IN LISTS installed)
        if(EXISTS "${file}")
            message(FATAL_ERROR "still installed: ${file}")
        endif()
    endforeach()
    if(with_user_files)
        foreach(folder IN LISTS folders)
            if(NOT EXISTS "${folder}/user notes.txt")
                message(FATAL_ERROR "the user's file in ${folder} was removed")
            endif()
        endforeach()
    endif()
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/opt")
install_and_uninstall(TRUE)

file(REMOVE_RECURSE "${prefix}")
set(before "${prefix}/share/icons/hicolor/48x48/apps")
file(MAKE_DIRECTORY "${before}")
install_and_uninstall(FALSE)
if(EXISTS "${prefix}/bin" OR EXISTS "${prefix}/share/icons/hicolor/64x64"
   OR NOT IS_DIRECTORY "${before}")
    message(FATAL_ERROR "the folders the install made are not gone, or one from before is")
endif()
file(REMOVE_RECURSE "${WORK}")
