# Code for Wayland protocols beyond the core, generated at build time by wayland-scanner.
#
#   pyrovane_wayland_protocols(<target> <client|server> [HEADERS_ONLY] <xml>...)
#
# adds to <target> the C code and the header (<name>-client.h or <name>-server.h, <name> being the
# XML file's name without its extension) of each protocol, and the folder that holds them as a
# folder of system headers: generated code is not ours to check. The code (the interfaces'
# tables) is the same for both sides; HEADERS_ONLY leaves it out, for a target that is linked with
# another that has it, since a program may hold it only once. Each header also joins the target
# wayland_protocol_headers, which scripts/lint builds alone so that clang-tidy can read the sources
# without a build.
find_package(PkgConfig REQUIRED)
pkg_check_modules(WaylandClient REQUIRED IMPORTED_TARGET GLOBAL wayland-client)
pkg_check_modules(WaylandServer REQUIRED IMPORTED_TARGET GLOBAL wayland-server)
pkg_get_variable(WaylandScanner wayland-scanner wayland_scanner)
pkg_get_variable(WaylandProtocolsFolder wayland-protocols pkgdatadir)
if(NOT WaylandScanner OR NOT WaylandProtocolsFolder)
  message(FATAL_ERROR "wayland-scanner (libwayland-bin) and wayland-protocols are needed (scripts/bootstrap installs them)")
endif()
if(NOT TARGET wayland_protocol_headers)
  add_custom_target(wayland_protocol_headers)
endif()

function(pyrovane_wayland_protocols target side)
  cmake_parse_arguments(ARG "HEADERS_ONLY" "" "" ${ARGN})
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/wayland-${side})
  file(MAKE_DIRECTORY ${generated})
  foreach(xml ${ARG_UNPARSED_ARGUMENTS})
    get_filename_component(name ${xml} NAME_WE)
    set(header ${generated}/${name}-${side}.h)
    set(code ${generated}/${name}-protocol.c)
    if(ARG_HEADERS_ONLY)
      add_custom_command(OUTPUT ${header} COMMAND ${WaylandScanner} ${side}-header ${xml} ${header} DEPENDS ${xml} VERBATIM)
      target_sources(${target} PRIVATE ${header})
    else()
      add_custom_command(
        OUTPUT ${header} ${code}
        COMMAND ${WaylandScanner} ${side}-header ${xml} ${header}
        COMMAND ${WaylandScanner} private-code ${xml} ${code}
        DEPENDS ${xml}
        VERBATIM)
      target_sources(${target} PRIVATE ${header} ${code})
    endif()
    string(MAKE_C_IDENTIFIER "${target}_${name}_${side}" headerTarget)
    add_custom_target(${headerTarget} DEPENDS ${header})
    add_dependencies(wayland_protocol_headers ${headerTarget})
  endforeach()
  target_include_directories(${target} SYSTEM PRIVATE ${generated})
endfunction()
