# cmake -DHEADER=include/setupsup.h.in -DSOURCE_DIR=<project> -P check_header_constants.cmake
# Every result code and buffer size the public header names is what some
# export returns or takes: each must be used in the library's sources, so
# that no code is written there as a bare number while the header's name for
# it goes unused; and each must be named in an export's contract comment
# (the whole name, or without SETUPSUP_ or its group word, as the header
# abbreviates: "TARGET_LOCKED" for SETUPSUP_CBF_TARGET_LOCKED). The version
# macros are the build's, not an export's, and are not looked at.
file(READ ${HEADER} header)
string(REGEX MATCHALL "#define SETUPSUP_[A-Z0-9_]+ +\\(?-?[0-9]+\\)?" definitions "${header}")
if(NOT definitions)
  message(FATAL_ERROR "${HEADER} defines no SETUPSUP_ constant")
endif()
# The contract comments: everything after the constants.
string(FIND "${header}" "extern \"C\"" declarations_start)
string(SUBSTRING "${header}" ${declarations_start} -1 declarations)

set(sources "")
foreach(folder cbf frame files registry process fonts sysinfo restart environment)
  file(GLOB_RECURSE found ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.h)
  list(APPEND sources ${found})
endforeach()
set(library "")
foreach(source IN LISTS sources)
  file(READ ${source} text)
  string(APPEND library "${text}\n")
endforeach()

set(faults "")
foreach(definition IN LISTS definitions)
  string(REGEX REPLACE "#define (SETUPSUP_[A-Z0-9_]+).*" "\\1" name "${definition}")
  if(NOT library MATCHES "(^|[^A-Za-z0-9_])${name}([^A-Za-z0-9_]|$)")
    list(APPEND faults "${name} is used nowhere in the library's sources")
  endif()
  # The forms a contract may use; the group word is dropped only where two
  # words remain ("OK" alone would name every group's success).
  string(SUBSTRING "${name}" 9 -1 short)
  set(forms ${name} ${short})
  if(short MATCHES "^[A-Z0-9]+_([A-Z0-9]+_[A-Z0-9_]+)$")
    list(APPEND forms ${CMAKE_MATCH_1})
  endif()
  set(named FALSE)
  foreach(form IN LISTS forms)
    if(declarations MATCHES "(^|[^A-Za-z0-9_])${form}([^A-Za-z0-9_]|$)")
      set(named TRUE)
    endif()
  endforeach()
  if(NOT named)
    list(APPEND faults "${name} is named in no export's contract comment")
  endif()
endforeach()
list(LENGTH definitions count)
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${HEADER}:\n  ${text}")
endif()
message(STATUS "${count} constants of ${HEADER}: each used in the library and named in a contract")
