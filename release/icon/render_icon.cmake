# render_icon(ICON.ico SIZE:BITS...): ICON.ico in this build folder, the program's icon rendered by
# render_icon.py from its one drawing at the sizes and depths given.
function(render_icon icon)
  set(drawing ${PROJECT_SOURCE_DIR}/release/icon/DisplayDiagnostics.icon)
  set(renderer ${PROJECT_SOURCE_DIR}/release/icon/render_icon.py)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${icon}
                     COMMAND /usr/bin/python3 ${renderer} ${drawing} ${icon} ${ARGN}
                     DEPENDS ${renderer} ${drawing}
                     COMMENT "Rendering the program's icon at ${ARGN}")
endfunction()
