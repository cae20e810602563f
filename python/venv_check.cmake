# `pip install .` as a user runs it, into a fresh virtual environment that
# sees the system's packages (numpy), offline and without build isolation
# (Debian's setuptools is the backend). setup.py reuses this build tree, so
# nothing is compiled twice. Then, with nothing of the build tree on any
# path, the installed module must run a fit and load nothing but its own
# files and the system's: a project library missing from the wheel would be
# found elsewhere or not at all.
file(REMOVE_RECURSE ${WORK_DIR})
set(venv ${WORK_DIR}/venv)
execute_process(COMMAND ${PYTHON} -m venv --system-site-packages --without-pip ${venv} RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "python3 -m venv failed")
endif()
unset(ENV{PYTHONPATH})
unset(ENV{LD_LIBRARY_PATH})
set(ENV{ZFIT_CMAKE_BUILD_DIR} ${BUILD_DIR})
execute_process(COMMAND ${venv}/bin/python -m pip install --no-build-isolation --no-index --no-cache-dir
                        --disable-pip-version-check ${SOURCE_DIR}
                RESULT_VARIABLE r OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "pip install failed:\n${out}${err}")
endif()
unset(ENV{ZFIT_CMAKE_BUILD_DIR})

set(script [=[
import os, sys, sysconfig
venv = os.path.realpath(sys.argv[1])
import zfit
site = os.path.realpath(sysconfig.get_path("platlib"))
assert os.path.realpath(zfit.__file__).startswith(site + os.sep), (zfit.__file__, site)
# The package: __init__.py and the compiled zfit._zfit side by side.
assert os.path.dirname(zfit._zfit.__file__) == os.path.dirname(zfit.__file__) == os.path.join(site, "zfit"), \
    (zfit.__file__, zfit._zfit.__file__)
columns = zfit.fit_many("circle", [[[1, 0], [0, 1], [-1, 0], [0, -1]]] * 2, columns=True)
assert columns["radius"].tolist() == [1.0, 1.0], columns
fits = zfit.fit_many("line", [[[0, 1], [1, 2], [2, 3]]] * 3)
assert all(abs(r.distance - 0.5 ** 0.5) < 1e-12 for r in fits), fits
mapped = {os.path.realpath(line.split()[-1]) for line in open("/proc/self/maps") if ".so" in line}
foreign = sorted(p for p in mapped if not p.startswith((venv + os.sep, "/usr/", "/lib")))
assert not foreign, "loaded from outside the environment and the system: %s" % foreign
ours = sorted(p for p in mapped if p.startswith(venv + os.sep))
print("pip-installed module", zfit.__file__, "loads", ours)
]=])
execute_process(COMMAND ${venv}/bin/python -c "${script}" ${venv}
                WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE r OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "importing the pip-installed module failed:\n${out}${err}")
endif()
message(STATUS "${out}")
