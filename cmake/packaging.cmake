# The run-time as an installable package.
#
#   cmake --install build/default --prefix PREFIX    installs
#     PREFIX/bin/                         ferrule, and vtn and twl when they are built
#     PREFIX/lib*/libvtn_runtime.a        the run-time
#     PREFIX/include/vtn/runtime/...      its public headers (below), included as "runtime/..."
#     PREFIX/lib*/cmake/vtn/              find_package(vtn CONFIG) -> target vtn::vtn_runtime
#     PREFIX/lib*/pkgconfig/vtn.pc        pkg-config --cflags --libs vtn
#   cpack -G DEB (in the build tree)      the same files as a Debian package
#
# Both the CMake package and vtn.pc find their prefix from where they lie, so an installed tree
# can be moved (the package test installs into a temporary directory).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VTN_INSTALL_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/vtn)
set(VTN_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vtn)
set(VTN_INSTALL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The public headers: what a program includes to declare its files, call the statements, read
# errors, work with strings, decimals, pictures and dates, and run its process frame. Each is
# installed together with every run-time header it includes (found at install time, so that the
# set follows the includes as they change); those come along only so that the public ones
# compile, and are not meant to be included by a program.
set(VTN_PUBLIC_HEADERS
    runtime/core/fatal_error.hpp
    runtime/core/halt.hpp
    runtime/core/module_init.hpp
    runtime/core/process_entry.hpp
    runtime/core/process_exit.hpp
    runtime/core/random.hpp
    runtime/core/version_check.hpp
    runtime/files/basic/basic_driver.hpp
    runtime/files/field_info.hpp
    runtime/files/file_block.hpp
    runtime/files/file_declaration.hpp
    runtime/files/file_statements.hpp
    runtime/files/tarnwell/tarnwell_driver.hpp
    runtime/format/date_names.hpp
    runtime/format/dates.hpp
    runtime/format/environment.hpp
    runtime/format/picture.hpp
    runtime/format/picture_format.hpp
    runtime/ui/message_box.hpp
    runtime/ui/message_dialog.hpp
    runtime/ui/window_library.hpp
    runtime/values/calendar.hpp
    runtime/values/conversions.hpp
    runtime/values/decimal.hpp
    runtime/values/error_messages.hpp
    runtime/values/error_state.hpp
    runtime/values/fixed_string.hpp
    runtime/values/match.hpp
    runtime/values/paths.hpp
    runtime/values/string_functions.hpp
    runtime/values/string_stack.hpp
    runtime/values/typed_reference.hpp
    runtime/values/value_type.hpp)
foreach(header ${VTN_PUBLIC_HEADERS})
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${header})
    message(FATAL_ERROR "cmake/packaging.cmake names the public header ${header}, which is gone")
  endif()
endforeach()

# Inside the build the run-time's headers are found from the source root; installed, from
# include/vtn, so that "runtime/..." includes read the same in both.
get_target_property(vtn_build_includes vtn_runtime INTERFACE_INCLUDE_DIRECTORIES)
set_property(TARGET vtn_runtime PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             "$<BUILD_INTERFACE:${vtn_build_includes}>"
             "$<INSTALL_INTERFACE:${VTN_INSTALL_INCLUDE_DIR}>")

install(TARGETS vtn_runtime EXPORT vtnTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(tool ferrule vtn twl)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(CODE "
  set(VTN_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(VTN_PUBLIC_HEADERS \"${VTN_PUBLIC_HEADERS}\")
  set(VTN_HEADER_DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${VTN_INSTALL_INCLUDE_DIR}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install_headers.cmake\")")

# The CMake package.
install(EXPORT vtnTargets NAMESPACE vtn:: DESTINATION ${VTN_INSTALL_CMAKE_DIR}
        FILE vtnTargets.cmake)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vtnConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/package/vtnConfig.cmake
                              INSTALL_DESTINATION ${VTN_INSTALL_CMAKE_DIR})
# 0.x releases change their interface between minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/vtnConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/vtnConfig.cmake
              ${PROJECT_BINARY_DIR}/package/vtnConfigVersion.cmake
        DESTINATION ${VTN_INSTALL_CMAKE_DIR})

# pkg-config. The library is static, so everything it links goes into Libs, not Libs.private.
include(${CMAKE_CURRENT_LIST_DIR}/pkg_config_flags.cmake)
vtn_pkg_config_flags(vtn_runtime VTN_PC_CFLAGS VTN_PC_LIBS)
file(RELATIVE_PATH VTN_PC_PREFIX_FROM_PCFILEDIR
     /${VTN_INSTALL_PKGCONFIG_DIR} /)  # "../.." for lib/pkgconfig
string(REGEX REPLACE "/$" "" VTN_PC_PREFIX_FROM_PCFILEDIR "${VTN_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vtn.pc.in ${PROJECT_BINARY_DIR}/package/vtn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/vtn.pc DESTINATION ${VTN_INSTALL_PKGCONFIG_DIR})

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.cpp" PATTERN "CMakeLists.txt")

# The Debian package: executables, library, headers, CMake package and pkg-config file.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ferrule)
set(CPACK_PACKAGE_VENDOR "ferrule developers")
set(CPACK_PACKAGE_CONTACT "ferrule developers <ferrule@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ferrule, the twl record-file tool, and the vtn run-time library with its headers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
# The executables' shared-library dependencies (libc, libstdc++, the X libraries of the message
# box window) are read from the binaries when the tool for it is there.
find_program(VTN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VTN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

# The package test installs the build tree, so it needs every installed target built first, and
# the paths of this build. The test program is made in tests/, after this file has been read.
function(vtn_wire_package_test)
  if(NOT TARGET package_install_test)
    return()
  endif()
  set(tools)
  foreach(target vtn_runtime ferrule vtn twl)
    if(TARGET ${target})
      add_dependencies(package_install_test ${target})
    endif()
  endforeach()
  foreach(tool vtn twl)
    if(TARGET ${tool})
      list(APPEND tools ${tool})
    endif()
  endforeach()
  list(JOIN tools " " tools)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
  target_compile_definitions(
    package_install_test
    PRIVATE VTN_PACKAGE_BUILD_DIR="${PROJECT_BINARY_DIR}"
            VTN_PACKAGE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
            VTN_PACKAGE_CMAKE="${CMAKE_COMMAND}"
            VTN_PACKAGE_CPACK="${CMAKE_CPACK_COMMAND}"
            VTN_PACKAGE_GENERATOR="${CMAKE_GENERATOR}"
            VTN_PACKAGE_CXX="${CMAKE_CXX_COMPILER}"
            VTN_PACKAGE_CXX_FLAGS="${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}}"
            VTN_PACKAGE_LINKER_FLAGS="${CMAKE_EXE_LINKER_FLAGS}"
            VTN_PACKAGE_LIBDIR="${CMAKE_INSTALL_LIBDIR}"
            VTN_PACKAGE_VERSION="${PROJECT_VERSION}"
            VTN_PACKAGE_TOOLS="${tools}")
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL vtn_wire_package_test)
