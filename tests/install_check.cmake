# Installs the build into a scratch prefix and moves the prefix elsewhere, as
# someone who copies an installed tree does; then, with nothing of the build
# tree on any search path:
#   - runs the installed zfit command (when built), which must print what the
#     build tree's command prints and load the prefix's own libraries;
#   - builds and runs a tiny consumer (a line through zfit::zfit, a geometric
#     circle through zfit::metrology) twice: through find_package(zfit) and
#     through pkg-config (zfit and zfit-metrology).
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/moved_install.cmake)
unset(ENV{LD_LIBRARY_PATH})

# Fails unless every library of the prefix that `binary` needs resolves to
# the prefix's copy, and every library it needs resolves at all.
function(check_loads_from_prefix binary)
  execute_process(COMMAND ldd ${binary} OUTPUT_VARIABLE loaded RESULT_VARIABLE r)
  if(NOT r EQUAL 0 OR loaded MATCHES "not found")
    message(FATAL_ERROR "${binary} does not find its libraries:\n${loaded}")
  endif()
  file(GLOB shipped RELATIVE ${prefix}/${LIBDIR} ${prefix}/${LIBDIR}/*.so.*)
  foreach(library IN LISTS shipped)
    if(loaded MATCHES "${library} => ([^ ]+)")
      file(REAL_PATH ${CMAKE_MATCH_1} resolved)
      file(REAL_PATH ${prefix}/${LIBDIR}/${library} expected)
      if(NOT resolved STREQUAL expected)
        message(FATAL_ERROR "${binary} loads ${library} from ${resolved}, not the prefix's copy")
      endif()
    endif()
  endforeach()
endfunction()

if(COMMAND_NAME)
  set(command ${prefix}/${BINDIR}/${COMMAND_NAME})
  check_loads_from_prefix(${command})
  execute_process(COMMAND ${command} demo RESULT_VARIABLE r OUTPUT_VARIABLE out ERROR_VARIABLE err)
  execute_process(COMMAND ${BUILD_COMMAND} demo OUTPUT_VARIABLE expected)
  if(NOT r EQUAL 0 OR NOT out STREQUAL expected)
    message(FATAL_ERROR "the installed `zfit demo` failed (${r}):\n${err}\n${out}")
  endif()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/build -G Ninja
                        -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "consumer configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "consumer build failed")
endif()
check_loads_from_prefix(${WORK_DIR}/build/consumer)
execute_process(COMMAND ${WORK_DIR}/build/consumer RESULT_VARIABLE r OUTPUT_VARIABLE out)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "consumer (CMake) failed: ${out}")
endif()

set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs zfit-metrology zfit OUTPUT_VARIABLE flags RESULT_VARIABLE r
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know zfit and zfit-metrology")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND cc -std=c11 ${CONSUMER_SOURCE}/main.c ${flags} -Wl,-rpath,${prefix}/${LIBDIR}
                        -o ${WORK_DIR}/consumer-pc RESULT_VARIABLE r)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "consumer (pkg-config) build failed")
endif()
check_loads_from_prefix(${WORK_DIR}/consumer-pc)
execute_process(COMMAND ${WORK_DIR}/consumer-pc RESULT_VARIABLE r OUTPUT_VARIABLE out)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "consumer (pkg-config) failed: ${out}")
endif()
message(STATUS "a moved installed tree runs its command and serves find_package and pkg-config consumers")
