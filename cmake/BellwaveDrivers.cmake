# Driver plug-ins register themselves here; the build writes
# build/share/bellwave/machine.reg naming the built libraries, and the install writes
# one naming the installed libraries.

# bellwave_add_driver(TARGET target OUTPUT_NAME file NAME "Display Name"
#                     CLSID "{...}" | CLSID_HEADER header CLSID_CONSTANT name
#                     SOURCES ... [PACKAGE pkg-config-module] [VALUES "\"Key\"=..."...])
#
# Builds lib/bellwave/drivers/<file>.so and registers it in machine.reg as "Display Name"
# with its class id, given or read from the header that defines it. A driver sees the
# driver interface and the platform layer only; the platform layer is linked in and kept
# private to the module, so the module's copy never stands in for the program's. Every
# symbol is resolved at link time and only DllGetClassObject is exported. A driver whose
# PACKAGE is not installed is skipped, saying so.
function(bellwave_add_driver)
  cmake_parse_arguments(ARG "" "TARGET;OUTPUT_NAME;NAME;CLSID;CLSID_HEADER;CLSID_CONSTANT;PACKAGE"
                        "SOURCES;VALUES" ${ARGN})
  set(package_target "")
  if(ARG_PACKAGE)
    pkg_check_modules(driver_package IMPORTED_TARGET ${ARG_PACKAGE})
    if(NOT driver_package_FOUND)
      message(STATUS "${ARG_NAME} driver skipped: ${ARG_PACKAGE} development files not found")
      return()
    endif()
    set(package_target PkgConfig::driver_package)
  endif()
  if(ARG_CLSID_HEADER)
    bellwave_clsid_from_header(${ARG_CLSID_HEADER} ${ARG_CLSID_CONSTANT} ARG_CLSID)
  endif()

  add_library(${ARG_TARGET} MODULE ${ARG_SOURCES})
  target_link_libraries(${ARG_TARGET} PRIVATE asio_driver_api platform ${package_target})
  target_link_options(${ARG_TARGET} PRIVATE -Wl,--exclude-libs,ALL)
  if(BELLWAVE_SANITIZE STREQUAL "")
    target_link_options(${ARG_TARGET} PRIVATE -Wl,-z,defs)
  endif()
  set_target_properties(${ARG_TARGET} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${BELLWAVE_DRIVER_OUTPUT_DIR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    BELLWAVE_CLSID "${ARG_CLSID}")
  install(TARGETS ${ARG_TARGET} LIBRARY DESTINATION ${BELLWAVE_DRIVER_INSTALL_DIR})

  string(TOLOWER "${ARG_CLSID}" clsid)
  # Value lines are joined with a placeholder: a list inside a list entry would split it.
  list(JOIN ARG_VALUES "@NL@" values)
  set_property(GLOBAL APPEND PROPERTY BELLWAVE_DRIVERS "${ARG_TARGET}|${ARG_NAME}|${clsid}|${values}")
endfunction()

# Sets out to the class id that header defines as
#     inline constexpr CLSID <constant> = {0x..., 0x..., 0x..., {0x..., ...}};
# in registry form, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
function(bellwave_clsid_from_header header constant out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  file(READ ${header} text)
  string(REGEX MATCH "${constant} = {[^;]*}" definition "${text}")
  string(REGEX MATCHALL "0x[0-9a-fA-F]+" numbers "${definition}")
  list(LENGTH numbers count)
  if(NOT count EQUAL 11)
    message(FATAL_ERROR "${header} defines no class id ${constant} as {0x..., 0x..., 0x..., {8 bytes}}")
  endif()
  set(widths 8 4 4 2 2 2 2 2 2 2 2)
  set(clsid "{")
  set(index 0)
  foreach(number width IN ZIP_LISTS numbers widths)
    string(SUBSTRING "${number}" 2 -1 digits)
    string(LENGTH "${digits}" length)
    while(length LESS width)
      string(PREPEND digits "0")
      math(EXPR length "${length} + 1")
    endwhile()
    if(index EQUAL 1 OR index EQUAL 2 OR index EQUAL 3 OR index EQUAL 5)
      string(APPEND clsid "-")
    endif()
    string(APPEND clsid "${digits}")
    math(EXPR index "${index} + 1")
  endforeach()
  string(TOUPPER "${clsid}}" clsid)
  set(${out} "${clsid}" PARENT_SCOPE)
endfunction()

function(bellwave_write_machine_reg)
  get_property(drivers GLOBAL PROPERTY BELLWAVE_DRIVERS)
  set(build_text "REGEDIT4\n")
  set(install_text "REGEDIT4\n")
  foreach(entry ${drivers})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 target)
    list(GET fields 1 name)
    list(GET fields 2 clsid)
    list(GET fields 3 values)
    if(NOT values STREQUAL "")
      string(REPLACE "@NL@" "\n" values "${values}\n")
    endif()
    set(section "\n[HKEY_LOCAL_MACHINE\\software\\asio\\${name}]\n\"clsid\"=\"${clsid}\"\n\"description\"=\"${name}\"\n${values}")
    string(APPEND build_text "${section}\n[HKEY_CLASSES_ROOT\\clsid\\${clsid}\\InprocServer32]\n@=\"$<TARGET_FILE:${target}>\"\n")
    string(APPEND install_text "${section}\n[HKEY_CLASSES_ROOT\\clsid\\${clsid}\\InprocServer32]\n@=\"@PREFIX@/${BELLWAVE_DRIVER_INSTALL_DIR}/$<TARGET_FILE_NAME:${target}>\"\n")
  endforeach()
  file(GENERATE OUTPUT ${BELLWAVE_SHARE_OUTPUT_DIR}/machine.reg CONTENT "${build_text}")
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/install/machine.reg.in CONTENT "${install_text}")
  install(CODE "
    file(READ \"${CMAKE_BINARY_DIR}/install/machine.reg.in\" text)
    string(REPLACE \"@PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" text \"\${text}\")
    file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/bellwave/machine.reg\" \"\${text}\")
    message(STATUS \"Installing: \${CMAKE_INSTALL_PREFIX}/share/bellwave/machine.reg\")
  ")
endfunction()
