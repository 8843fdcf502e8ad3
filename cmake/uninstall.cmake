# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
# cmake -DTRANCHEL_INSTALL_RECORDS=<build>/installs [-DTRANCHEL_INSTALL_PREFIX=<prefix>]
#     -P uninstall.cmake: takes back every install recorded there (installrecord.cmake), or only
# the one into <prefix>: its files, then the folders it made, deepest first, where they are
# empty. Nothing is removed recursively: a folder that holds anything else stays. For Unix-like
# systems, whose rmdir refuses a folder that is not empty.

cmake_minimum_required(VERSION 3.16)

if(DEFINED TRANCHEL_INSTALL_PREFIX)
    string(MD5 key "${TRANCHEL_INSTALL_PREFIX}")
    set(records)
    if(EXISTS "${TRANCHEL_INSTALL_RECORDS}/${key}.txt")
        set(records "${TRANCHEL_INSTALL_RECORDS}/${key}.txt")
    endif()
else()
    file(GLOB records "${TRANCHEL_INSTALL_RECORDS}/*.txt")
endif()
if(NOT records)
    message(STATUS "Nothing installed from this build")
endif()
foreach(record IN LISTS records)
    file(STRINGS "${record}" lines)
    set(folders)
    foreach(line IN LISTS lines)
        if(line MATCHES "^prefix (.*)$")
            message(STATUS "Uninstalling from ${CMAKE_MATCH_1}")
        elseif(line MATCHES "^file (.*)$")
            if(EXISTS "${CMAKE_MATCH_1}" OR IS_SYMLINK "${CMAKE_MATCH_1}")
                message(STATUS "Removing ${CMAKE_MATCH_1}")
                file(REMOVE "${CMAKE_MATCH_1}")
            endif()
        elseif(line MATCHES "^folder (.*)$")
            list(APPEND folders "${CMAKE_MATCH_1}")
        endif()
    endforeach()
    # Deepest first: a folder is empty only once those below it are gone.
    list(SORT folders)
    list(REVERSE folders)
    foreach(folder IN LISTS folders)
        if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
            execute_process(COMMAND rmdir "${folder}" RESULT_VARIABLE failed
                            OUTPUT_QUIET ERROR_QUIET)
            if(failed)
                message(STATUS "Keeping ${folder}/, which holds other files")
            else()
                message(STATUS "Removed ${folder}/")
            endif()
        endif()
    endforeach()
    file(REMOVE "${record}")
endforeach()
