# Included by the install checks: installs the build at BUILD_DIR into a
# scratch prefix under WORK_DIR and moves that prefix elsewhere, as someone
# who copies an installed tree does, leaving its path in `prefix`.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/installed
                RESULT_VARIABLE r OUTPUT_QUIET)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
file(RENAME ${WORK_DIR}/installed ${prefix})
