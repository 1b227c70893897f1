# Replays the lhist corpus by a relative path with its own temporary folder, which must be empty
# afterwards.
file(REMOVE_RECURSE ${TEMP})
file(MAKE_DIRECTORY ${TEMP})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TMPDIR=${TEMP} ${FUZZER} corpus/lhist_fuzzer
                WORKING_DIRECTORY ${SOURCE} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the replay failed (${result}): ${out}${err}")
endif()
file(GLOB left ${TEMP}/*)
if(left)
    message(FATAL_ERROR "left behind: ${left}")
endif()
file(REMOVE_RECURSE ${TEMP})
