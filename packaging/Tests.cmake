# Tests of the installed program. They are slow (an install, a package build,
# an X server): label "packaging" tells them apart (ctest -L packaging, or
# -LE packaging to leave them out). A tool that is missing makes its test skip.
if(NOT BUILD_TESTING)
  return()
endif()

set(check ${CMAKE_CURRENT_SOURCE_DIR}/tests)
add_test(NAME packaging.desktop_files
  COMMAND ${check}/desktop-files.sh ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
add_test(NAME packaging.install_tree
  COMMAND ${check}/installed-tree.sh install ${CMAKE_BINARY_DIR})
add_test(NAME packaging.deb
  COMMAND ${check}/installed-tree.sh deb ${CMAKE_BINARY_DIR})
add_test(NAME packaging.accessibility
  COMMAND ${check}/accessibility.sh ${CMAKE_BINARY_DIR}/bin ${check}/atspi_names.py)
set_tests_properties(packaging.desktop_files packaging.install_tree packaging.deb packaging.accessibility
  PROPERTIES LABELS packaging SKIP_RETURN_CODE 77 TIMEOUT 900)
# Each installs or packages the whole tree: one at a time keeps a two-core
# machine responsive.
set_tests_properties(packaging.install_tree packaging.deb PROPERTIES RESOURCE_LOCK termset_install)

# The demo terminal of `make run` loads and holds a configuration worth
# reading (not all zeros).
if(TARGET rk40-sim)
  add_test(NAME demo.terminal_script
    COMMAND sh -c "printf 'dump\\nquit\\n' | \"$1\" --script \"$2\" > \"$3\" && grep -q '^39 1E05$' \"$3\" && grep -q '^10 8102$' \"$3\" && [ $(grep -E '^[0-9]+ [0-9A-F]{4}$' \"$3\" | grep -Ecv ' [08]000$') -ge 12 ]"
            _ $<TARGET_FILE:rk40-sim> ${CMAKE_SOURCE_DIR}/scripts/demo-terminal.txt ${CMAKE_CURRENT_BINARY_DIR}/demo-dump.txt)
endif()
