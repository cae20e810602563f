# Installs the build into a scratch prefix, moves the prefix elsewhere and
# imports the installed package with nothing of the build tree on any path: it
# must run a fit with the prefix's own copy of every library it loads that
# the prefix holds, found through its relative RPATH.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/moved_install.cmake)
if(IS_ABSOLUTE ${SITE})
  message(STATUS "module installed into ${SITE}: not checked from a scratch prefix")
  return()
endif()
set(script [=[
import os, sys
site, libdir = sys.argv[1:3]
sys.path.insert(0, site)
import zfit
assert zfit.__file__.startswith(site), zfit.__file__
# The package: __init__.py and the compiled zfit._zfit side by side.
assert os.path.dirname(zfit._zfit.__file__) == os.path.dirname(zfit.__file__) == os.path.join(site, "zfit"), \
    (zfit.__file__, zfit._zfit.__file__)
r = zfit.fit_line([[0, 1], [1, 2], [2, 3]])
assert abs(r.distance - 0.5 ** 0.5) < 1e-12, r
shipped = {name for name in os.listdir(libdir) if ".so" in name}
mapped = {line.split()[-1] for line in open("/proc/self/maps") if line.count(" /")}
ours = {path for path in mapped if os.path.basename(path) in shipped}
assert ours, "none of the prefix's libraries is loaded: %s" % sorted(mapped)
assert all(os.path.realpath(path).startswith(os.path.realpath(libdir)) for path in ours), ours
print("installed module", zfit.__file__, "loads", sorted(ours))
]=])
unset(ENV{PYTHONPATH})
unset(ENV{LD_LIBRARY_PATH})
execute_process(COMMAND ${PYTHON} -c "${script}" ${prefix}/${SITE} ${prefix}/${LIBDIR}
                WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE r OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "importing the installed module failed:\n${out}${err}")
endif()
message(STATUS "${out}")
