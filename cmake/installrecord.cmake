# SPDX-FileCopyrightText: 2026 The tranchel authors
# SPDX-License-Identifier: MIT
# Included by the install script: records, per prefix, the files an install put there and the
# folders it made, in <build>/installs, so that the uninstall target can take back every
# install from this build, whatever its prefix. Set before including: TRANCHEL_INSTALL_STEP
# (begin or end), TRANCHEL_INSTALL_ROOTS (the folders below the prefix that installs write
# into) and TRANCHEL_INSTALL_RECORDS (the records' folder).

cmake_policy(VERSION 3.16)

set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
string(MD5 key "${prefix}")
set(existing "${TRANCHEL_INSTALL_RECORDS}/${key}.existing")
set(record "${TRANCHEL_INSTALL_RECORDS}/${key}.txt")

if(TRANCHEL_INSTALL_STEP STREQUAL "begin")
    # The folders there before this install: the prefix, the roots and all below them.
    set(folders)
    if(IS_DIRECTORY "${prefix}")
        list(APPEND folders "${prefix}")
    endif()
    foreach(root IN LISTS TRANCHEL_INSTALL_ROOTS)
        set(path "${prefix}")
        string(REPLACE "/" ";" parts "${root}")
        foreach(part IN LISTS parts)
            set(path "${path}/${part}")
            if(IS_DIRECTORY "${path}")
                list(APPEND folders "${path}")
            endif()
        endforeach()
        if(IS_DIRECTORY "${prefix}/${root}")
            # A pattern, so the prefix's own [, ], * and ? must match only themselves.
            string(REGEX REPLACE "([][*?])" "[\\1]" literal "${prefix}/${root}")
            file(GLOB_RECURSE below LIST_DIRECTORIES true "${literal}/*")
            foreach(entry IN LISTS below)
                if(IS_DIRECTORY "${entry}")
                    list(APPEND folders "${entry}")
                endif()
            endforeach()
        endif()
    endforeach()
    list(REMOVE_DUPLICATES folders)
    string(REPLACE ";" "\n" folders "${folders}")
    file(WRITE "${existing}" "${folders}\n")
    return()
endif()

# The end: this install's files, and the folders above them that were not there before.
file(STRINGS "${existing}" before)
set(lines "prefix ${prefix}")
set(made)
foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    list(APPEND lines "file ${file}")
    get_filename_component(folder "${file}" DIRECTORY)
    string(LENGTH "${prefix}" prefixLength)
    string(LENGTH "${folder}" folderLength)
    while(folderLength GREATER_EQUAL prefixLength AND NOT folder IN_LIST before
          AND NOT folder IN_LIST made)
        list(APPEND made "${folder}")
        get_filename_component(folder "${folder}" DIRECTORY)
        string(LENGTH "${folder}" folderLength)
    endwhile()
endforeach()
# What an earlier install into this prefix made stays its own to take back.
if(EXISTS "${record}")
    file(STRINGS "${record}" earlier REGEX "^folder ")
    list(APPEND lines ${earlier})
endif()
foreach(folder IN LISTS made)
    list(APPEND lines "folder ${folder}")
endforeach()
list(REMOVE_DUPLICATES lines)
string(REPLACE ";" "\n" lines "${lines}")
file(WRITE "${record}" "${lines}\n")
file(REMOVE "${existing}")
