# add_version_resource(TARGET FILE_TYPE DESCRIPTION [MANIFEST FILE] [ICON FILE.ico]): the target's
# Windows version resource, from version.rc.in, and its application manifest and icon, if it has them.
function(add_version_resource target file_type file_description)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "MANIFEST;ICON" "")
  set(file_name $<TARGET_FILE_NAME:${target}>)
  get_target_property(internal_name ${target} OUTPUT_NAME)
  if(NOT internal_name)
    set(internal_name ${target})
  endif()
  set(product_name "Display Diagnostics")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set(more_resources "")
  if(arg_MANIFEST)
    # An exe's manifest is resource 1 of type RT_MANIFEST (24): Windows looks nowhere else.
    set(more_resources "1 24 \"${arg_MANIFEST}\"")
    # The resource compiler reads the manifest: a changed manifest must rebuild the resource.
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${arg_MANIFEST})
  endif()
  if(arg_ICON)
    # Icon group 1, the lowest, is the one Explorer and the taskbar show for the program.
    string(APPEND more_resources "\n1 ICON \"${arg_ICON}\"")
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${arg_ICON})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/release/windows/version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()
