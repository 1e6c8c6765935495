# Installs the public headers of the run-time with every run-time header they include, directly or
# not, keeping their paths below the source root. Runs at install time (cmake/packaging.cmake),
# so the set follows the includes as they are when the tree is installed.
#
# Expects VTN_SOURCE_DIR, VTN_PUBLIC_HEADERS (paths relative to it) and VTN_HEADER_DESTINATION.

cmake_policy(VERSION 3.25)

set(pending ${VTN_PUBLIC_HEADERS})
set(found)
while(pending)
  list(POP_FRONT pending header)
  if(header IN_LIST found)
    continue()
  endif()
  if(NOT EXISTS "${VTN_SOURCE_DIR}/${header}")
    message(FATAL_ERROR "install: ${header} is included by a public header but does not exist")
  endif()
  list(APPEND found ${header})
  file(STRINGS "${VTN_SOURCE_DIR}/${header}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"runtime/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" included "${line}")
    list(APPEND pending ${included})
  endforeach()
endwhile()

list(SORT found)
foreach(header ${found})
  get_filename_component(directory "${header}" DIRECTORY)
  file(INSTALL DESTINATION "${VTN_HEADER_DESTINATION}/${directory}" TYPE FILE
       FILES "${VTN_SOURCE_DIR}/${header}")
endforeach()
