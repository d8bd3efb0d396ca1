# For the packing scripts: packs each of the files FILES (names below
# WORKING/PREFIX) into ARCHIVE with `cmake -E tar MODE ARCHIVE OPTIONS`
# (OPTIONS a list, maybe empty), and checks that
# it holds exactly these, each as it was packed, by unpacking it into
# UNPACKED. Sets `listing` in the caller to what the archive holds.
function(pack_and_check archive mode options working prefix unpacked)
    set(paths ${ARGN})
    list(TRANSFORM paths PREPEND "${prefix}")
    list(SORT paths)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar ${mode} "${archive}" ${options} ${paths}
                    WORKING_DIRECTORY "${working}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "could not pack ${archive}")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${archive}"
                    OUTPUT_VARIABLE listing RESULT_VARIABLE result)
    string(STRIP "${listing}" listing)
    string(REPLACE "\n" ";" listing "${listing}")
    list(SORT listing)
    if(NOT result EQUAL 0 OR NOT listing STREQUAL paths)
        message(FATAL_ERROR "${archive} holds: ${listing}\nexpected: ${paths}")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${archive}"
                    WORKING_DIRECTORY "${unpacked}" RESULT_VARIABLE result)
    foreach(path IN LISTS paths)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files
                                "${working}/${path}" "${unpacked}/${path}"
                        RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "${path} in ${archive} differs from what was packed")
        endif()
    endforeach()
    set(listing "${listing}" PARENT_SCOPE)
endfunction()
