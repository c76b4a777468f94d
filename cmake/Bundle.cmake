# Lays the three programs out as the bundle tree they expect:
# Kelvara.app/Contents/{MacOS,Resources,Components/<companion>.app}.
set(KELVARA_APP_DIR "${CMAKE_BINARY_DIR}/Kelvara.app")
set(KELVARA_HELPER_APP_DIR "${KELVARA_APP_DIR}/Contents/Components/Kelvara Helper.app")
set(KELVARA_MENU_APP_DIR "${KELVARA_APP_DIR}/Contents/Components/Kelvara Menu.app")
set(KELVARA_RESOURCE_DIR "${CMAKE_SOURCE_DIR}/resources")

# kelvara_bundle(<target> DIR <bundle> NAME <executable> IDENTIFIER <id> [RESOURCES <files>...])
function(kelvara_bundle target)
  cmake_parse_arguments(B "" "DIR;NAME;IDENTIFIER" "RESOURCES" ${ARGN})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${B_NAME}"
    RUNTIME_OUTPUT_DIRECTORY "${B_DIR}/Contents/MacOS")
  set(KELVARA_BUNDLE_NAME "${B_NAME}")
  set(KELVARA_BUNDLE_IDENTIFIER "${B_IDENTIFIER}")
  configure_file("${KELVARA_RESOURCE_DIR}/Info.plist.in" "${B_DIR}/Contents/Info.plist" @ONLY)
  # Every program carries the string tables of every language.
  file(GLOB tables CONFIGURE_DEPENDS "${KELVARA_RESOURCE_DIR}/*.lproj/*.strings")
  foreach(table IN LISTS tables)
    file(RELATIVE_PATH relative "${KELVARA_RESOURCE_DIR}" "${table}")
    configure_file("${table}" "${B_DIR}/Contents/Resources/${relative}" COPYONLY)
  endforeach()
  foreach(res IN LISTS B_RESOURCES)
    get_filename_component(res_name "${res}" NAME)
    configure_file("${res}" "${B_DIR}/Contents/Resources/${res_name}" COPYONLY)
  endforeach()
endfunction()
