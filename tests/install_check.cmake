# Installs the build into a scratch prefix and moves the prefix elsewhere, as
# someone who copies an installed tree does; then, with nothing of the build
# tree on any search path:
#   - runs the installed zfit command (when built), which must print what the
#     build tree's command prints and load the prefix's own libraries;
#   - checks that the install made no empty folders;
#   - builds and runs two tiny consumers, a C program (a line through
#     zfit::zfit, a geometric circle through zfit::metrology) and a C++ one
#     (a circle through zfit/zfit.hpp), twice: through find_package(zfit),
#     with no C++ standard of their own, and through pkg-config (zfit and
#     zfit-metrology) with nothing but its flags, whose rpath must find the
#     libraries.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/moved_install.cmake)
unset(ENV{LD_LIBRARY_PATH})

file(GLOB_RECURSE folders LIST_DIRECTORIES true ${prefix}/*)
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY ${folder})
    file(GLOB content ${folder}/*)
    if(NOT content)
      message(FATAL_ERROR "the install made an empty folder: ${folder}")
    endif()
  endif()
endforeach()

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
# Runs a consumer program; it must load the prefix's libraries and succeed.
function(run_consumer binary how)
  check_loads_from_prefix(${binary})
  execute_process(COMMAND ${binary} RESULT_VARIABLE r OUTPUT_VARIABLE out)
  if(NOT r EQUAL 0)
    message(FATAL_ERROR "${binary} (${how}) failed: ${out}")
  endif()
endfunction()
run_consumer(${WORK_DIR}/build/consumer "CMake, C")
run_consumer(${WORK_DIR}/build/consumer_cpp "CMake, C++")

set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs zfit-metrology zfit OUTPUT_VARIABLE flags RESULT_VARIABLE r
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT r EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know zfit and zfit-metrology")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
foreach(program IN ITEMS "cc;-std=c11;main.c;consumer-pc" "c++;-std=c++20;main.cpp;consumer-pc-cpp")
  list(GET program 0 compiler)
  list(GET program 1 standard)
  list(GET program 2 source)
  list(GET program 3 binary)
  execute_process(COMMAND ${compiler} ${standard} ${CONSUMER_SOURCE}/${source} ${flags} -o ${WORK_DIR}/${binary}
                  RESULT_VARIABLE r)
  if(NOT r EQUAL 0)
    message(FATAL_ERROR "consumer ${source} (pkg-config) build failed")
  endif()
  run_consumer(${WORK_DIR}/${binary} "pkg-config")
endforeach()
message(STATUS "a moved installed tree runs its command and serves find_package and pkg-config consumers")
