# The pkg-config view of a library target: its interface compile definitions as Cflags, and
# what it links (to be linked after it, since the library is static) as Libs.

# A link item as a linker flag: a path stays a path, "-x" stays as it is, a name becomes "-lname";
# $<LINK_ONLY:x> (how a static library passes on what it links privately) is x. Threads::Threads
# is "-pthread". Anything else (another imported target, another expression) cannot be written
# into a pkg-config file; it is reported, and a program linked through pkg-config will miss it.
function(vtn_pkg_config_link_flag item out)
  if(item MATCHES "^\\$<LINK_ONLY:(.+)>$")
    set(item "${CMAKE_MATCH_1}")
  endif()
  if(item STREQUAL "Threads::Threads")
    set(flag "-pthread")
  elseif(IS_ABSOLUTE "${item}" OR item MATCHES "^-")
    set(flag "${item}")
  elseif(item MATCHES "^[A-Za-z0-9_.+-]+$")
    # A library name, or an imported target named after its library (FLTK's fltk, fltk_images,
    # ...): the linker finds it by that name.
    set(flag "-l${item}")
  else()
    message(WARNING "vtn.pc: cannot express the link item '${item}' for pkg-config")
    set(flag "")
  endif()
  set(${out} "${flag}" PARENT_SCOPE)
endfunction()

function(vtn_pkg_config_flags target cflags_out libs_out)
  set(cflags)
  get_target_property(definitions ${target} INTERFACE_COMPILE_DEFINITIONS)
  if(definitions)
    foreach(definition ${definitions})
      list(APPEND cflags "-D${definition}")
    endforeach()
  endif()
  set(libs)
  get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  if(links)
    foreach(item ${links})
      vtn_pkg_config_link_flag("${item}" flag)
      if(flag)
        list(APPEND libs "${flag}")
      endif()
    endforeach()
  endif()
  list(REMOVE_DUPLICATES libs)
  list(JOIN cflags " " cflags)
  list(JOIN libs " " libs)
  set(${cflags_out} "${cflags}" PARENT_SCOPE)
  set(${libs_out} "${libs}" PARENT_SCOPE)
endfunction()
