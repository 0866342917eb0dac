# cmake -DNM=... -DFILE=... -DEXPECT=absent|present -P check_seams.cmake
# The replaceable test entry points (g_readPiece, g_resolveEntry) must not be
# in the shipped DLL and must be in the test programs built with
# SETUPSUP_TEST_SEAMS; the second half shows the check can see them at all.
execute_process(COMMAND ${NM} ${FILE} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR symbols STREQUAL "")
  message(FATAL_ERROR "${NM} found no symbol table in ${FILE}")
endif()
string(REGEX MATCHALL "g_readPiece|g_resolveEntry" seams "${symbols}")
list(REMOVE_DUPLICATES seams)
if(EXPECT STREQUAL "absent" AND seams)
  message(FATAL_ERROR "${FILE} holds test seams: ${seams}")
elseif(EXPECT STREQUAL "present" AND NOT seams)
  message(FATAL_ERROR "${FILE} holds no test seam; the check cannot see them")
endif()
message(STATUS "${FILE}: seams ${EXPECT}")
