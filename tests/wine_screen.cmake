# What every test under Wine stands on: the Windows release unpacked as a user unpacks it, with the box
# reader and the test programs beside it, and a private 240x320x16 screen with a Wine prefix of its own
# (label e2e). Where this host cannot run this build (scripts/wine-loader), every test that needs the
# screen is skipped, saying why.
set(wine_screen ${PROJECT_SOURCE_DIR}/scripts/wine-screen)
set(screen ${CMAKE_BINARY_DIR}/e2e-screen-240x320x16)
# The code wine-screen and e2e_case.sh exit with when this host cannot run the build.
set(e2e_skip_status 77)
# The tests run the program and GX.dll as unpacked from the release archive.
set(bin ${CMAKE_BINARY_DIR}/e2e-release/${release_archive})

add_test(NAME e2e_screen_start COMMAND ${wine_screen} start ${screen} 240x320x16 ${windows_bits})
add_test(NAME e2e_screen_stop COMMAND ${wine_screen} stop ${screen})
set_tests_properties(e2e_screen_start PROPERTIES FIXTURES_SETUP e2e_screen LABELS e2e
                                                  SKIP_RETURN_CODE ${e2e_skip_status})
set_tests_properties(e2e_screen_stop PROPERTIES FIXTURES_CLEANUP e2e_screen LABELS e2e)
add_test(NAME e2e_release_unpack
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/e2e/unpack_release.sh ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR}
                 ${release_archive} ${CMAKE_BINARY_DIR}/e2e-release $<TARGET_FILE:box_reader>
                 $<TARGET_FILE:gx_dll_test> ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/gx_msvc_caller.exe)
set_tests_properties(e2e_release_unpack PROPERTIES FIXTURES_SETUP e2e_release LABELS e2e)

# e2e_on_screen(TEST TIMEOUT): TEST runs on the screen, after the release is unpacked.
function(e2e_on_screen test timeout)
  set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "e2e_screen;e2e_release" RESOURCE_LOCK e2e_screen LABELS e2e
                                          TIMEOUT ${timeout} SKIP_RETURN_CODE ${e2e_skip_status})
endfunction()
