# Driver plug-ins register themselves here; the build writes
# build/share/bellwave/machine.reg naming the built libraries, and the install writes
# one naming the installed libraries.
#
# bellwave_add_driver(TARGET target NAME "Display Name" CLSID "{...}" [VALUES "\"Key\"=..."...])
function(bellwave_add_driver)
  cmake_parse_arguments(ARG "" "TARGET;NAME;CLSID" "VALUES" ${ARGN})
  set_target_properties(${ARG_TARGET} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${BELLWAVE_DRIVER_OUTPUT_DIR}
    PREFIX "")
  install(TARGETS ${ARG_TARGET} LIBRARY DESTINATION ${BELLWAVE_DRIVER_INSTALL_DIR})
  string(TOLOWER "${ARG_CLSID}" clsid)
  # Value lines are joined with a placeholder: a list inside a list entry would split it.
  list(JOIN ARG_VALUES "@NL@" values)
  set_property(GLOBAL APPEND PROPERTY BELLWAVE_DRIVERS "${ARG_TARGET}|${ARG_NAME}|${clsid}|${values}")
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
