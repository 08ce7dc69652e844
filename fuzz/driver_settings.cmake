# The drivers' settings readers are compiled in; the drivers themselves are plug-ins.
get_target_property(virtual_clsid bellwave_virtual BELLWAVE_CLSID)
bellwave_fuzz_target(driver_settings
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/driver_settings_fuzz.cpp
          ${CMAKE_SOURCE_DIR}/drivers/virtual/device_settings.cpp
          ${CMAKE_SOURCE_DIR}/drivers/jack/jack_settings.cpp
          ${CMAKE_SOURCE_DIR}/drivers/alsa/alsa_settings.cpp
  LIBS platform
  MADE_SEEDS)
target_compile_definitions(fuzz_driver_settings PRIVATE BELLWAVE_VIRTUAL_CLSID="${virtual_clsid}")
