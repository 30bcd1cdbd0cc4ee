# Fails when a help page, the contents or the index points at a file that is
# not part of the help. chmcmd would compile such a help without a word, and
# the link would only show up broken in the viewer.
#
#   cmake -DSTAGE=<folder with the staged help files> -P check-links.cmake
#
# Links are checked against the staged folder, which holds exactly the files
# that go into help.chm. Links to web addresses and to anchors on the same
# page are not checked.

if(NOT STAGE OR NOT IS_DIRECTORY "${STAGE}")
    message(FATAL_ERROR "check-links: STAGE must name the staged help folder")
endif()

file(GLOB sources RELATIVE "${STAGE}" "${STAGE}/*.html" "${STAGE}/*.hhc" "${STAGE}/*.hhk")
set(broken "")
foreach(source IN LISTS sources)
    file(READ "${STAGE}/${source}" text)
    # href="..." and src="..." in the pages; value="..." of Local in the
    # contents and the index.
    string(REGEX MATCHALL "(href|src)=\"[^\"]*\"|name=\"Local\" value=\"[^\"]*\"" links "${text}")
    foreach(link IN LISTS links)
        string(REGEX REPLACE ".*\"([^\"]*)\"$" "\\1" target "${link}")
        string(REGEX REPLACE "#.*$" "" target "${target}")
        if(target STREQUAL "" OR target MATCHES "^[a-z]+:")
            continue()
        endif()
        if(NOT EXISTS "${STAGE}/${target}")
            string(APPEND broken "\n  ${source}: ${target}")
        endif()
    endforeach()
endforeach()

if(broken)
    message(FATAL_ERROR "check-links: these links lead to no file of the help:${broken}")
endif()
