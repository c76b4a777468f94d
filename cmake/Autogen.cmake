# kelvara_autogen_sources(<target> <files>...): the code generators' timestamp
# depends only on the files they saw last time, so a file newly found by a glob
# (a new interface or a new Q_OBJECT class) would be missed by an incremental
# build. When the list changes, the timestamp goes and the generators run again.
function(kelvara_autogen_sources target)
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen_sources.txt")
  string(JOIN "\n" listed ${ARGN})
  set(previous "")
  if(EXISTS "${list_file}")
    file(READ "${list_file}" previous)
  endif()
  if(NOT previous STREQUAL listed)
    file(REMOVE "${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp")
    file(WRITE "${list_file}" "${listed}")
  endif()
endfunction()
