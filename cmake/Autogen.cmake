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

# kelvara_screens_library(<target> <sources> LINKS <libraries>...): a windowed
# program's screens, interface files and storyboard as a static library that its
# thin program and the GUI tests link; an interface library while it has none.
function(kelvara_screens_library target)
  cmake_parse_arguments(L "" "" "SOURCES;LINKS" ${ARGN})
  if(NOT L_SOURCES)
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${L_LINKS})
    return()
  endif()
  add_library(${target} STATIC ${L_SOURCES})
  set_target_properties(${target} PROPERTIES AUTOUIC ON)
  kelvara_autogen_sources(${target} ${L_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${L_LINKS})
endfunction()
