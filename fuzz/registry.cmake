bellwave_fuzz_target(registry SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/registry_fuzz.cpp LIBS platform MADE_SEEDS)
