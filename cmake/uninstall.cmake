# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
# cmake -DTRANCHEL_INSTALL_RECORDS=<build>/installs -P uninstall.cmake: takes back every
# install recorded there (installrecord.cmake): its files, then the folders it made, deepest
# first, where they are empty.

cmake_minimum_required(VERSION 3.16)

file(GLOB records "${TRANCHEL_INSTALL_RECORDS}/*.txt")
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
        file(GLOB entries "${folder}/*" "${folder}/.*")
        if(IS_DIRECTORY "${folder}" AND NOT entries)
            message(STATUS "Removing ${folder}/")
            file(REMOVE_RECURSE "${folder}")
        endif()
    endforeach()
    file(REMOVE "${record}")
endforeach()
