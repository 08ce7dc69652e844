bellwave_fuzz_target(m3u SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/m3u_fuzz.cpp LIBS audiofiles)
