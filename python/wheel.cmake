# What the wheel of `pip install .` holds (setup.py installs this component
# into the wheel's staging folder): the package zfit/ (__init__.py and the
# compiled _zfit) and, in zfit.libs/ beside it, every shared library of this
# project that _zfit loads, directly or through another one. _zfit looks
# there first (its INSTALL_RPATH); each library finds the others beside
# itself ($ORIGIN).
# The list of libraries is read from the targets the module links, once the
# directory has been read to its end, so a library linked later is carried too.
install(TARGETS zfit_python LIBRARY DESTINATION zfit COMPONENT python_wheel EXCLUDE_FROM_ALL)
install(FILES zfit/__init__.py DESTINATION zfit COMPONENT python_wheel EXCLUDE_FROM_ALL)

# The project's own (not imported) shared libraries that `target` links,
# directly or through the targets it links.
function(zfit_project_shared_libraries target out)
  set(found "")
  set(seen ${target})
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    get_target_property(direct ${current} LINK_LIBRARIES)
    get_target_property(usage ${current} INTERFACE_LINK_LIBRARIES)
    foreach(item IN LISTS direct usage)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      if(NOT TARGET "${item}")
        continue()
      endif()
      get_target_property(aliased ${item} ALIASED_TARGET)
      if(aliased)
        set(item ${aliased})
      endif()
      if(item IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${item})
      list(APPEND pending ${item})
      get_target_property(type ${item} TYPE)
      get_target_property(imported ${item} IMPORTED)
      if(type STREQUAL "SHARED_LIBRARY" AND NOT imported)
        list(APPEND found ${item})
      endif()
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(zfit_install_wheel_libraries)
  zfit_project_shared_libraries(zfit_python libraries)
  install(TARGETS ${libraries} LIBRARY DESTINATION zfit.libs NAMELINK_SKIP COMPONENT python_wheel EXCLUDE_FROM_ALL)
endfunction()
cmake_language(DEFER CALL zfit_install_wheel_libraries)
