# Installs the build into a scratch prefix and imports the installed module
# with nothing of the build tree on the path: it must load the installed
# libzfit.so through its RPATH and run a fit.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} RESULT_VARIABLE r OUTPUT_QUIET)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
if(IS_ABSOLUTE ${SITE})
  message(STATUS "module installed into ${SITE}: not checked from a scratch prefix")
  return()
endif()
set(script [=[
import sys
site = sys.argv[1]
sys.path.insert(0, site)
import zfit
assert zfit.__file__.startswith(site), zfit.__file__
r = zfit.fit_line([[0, 1], [1, 2], [2, 3]])
assert abs(r.distance - 0.5 ** 0.5) < 1e-12, r
maps = open("/proc/self/maps").read()
libs = {line.split()[-1] for line in maps.splitlines() if "/libzfit" in line}
assert libs and all(l.startswith(sys.argv[2]) for l in libs), libs
print("installed module", zfit.__file__)
]=])
unset(ENV{PYTHONPATH})
unset(ENV{LD_LIBRARY_PATH})
execute_process(COMMAND ${PYTHON} -c "${script}" ${prefix}/${SITE} ${prefix}
                WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE r OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "importing the installed module failed:\n${out}${err}")
endif()
message(STATUS "${out}")
