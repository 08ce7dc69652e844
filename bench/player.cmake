# The whole playback path (MP3 decode, resampling 44100 -> 48000, channel split, host
# conversion) on the virtual device: seconds of audio per CPU second at full speed on
# the test clock, and the CPU share of one core while playing in real time.
add_executable(bench_player ${CMAKE_CURRENT_LIST_DIR}/player.cpp)
target_include_directories(bench_player PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bench_player PRIVATE player benchmark::benchmark_main)
target_compile_definitions(bench_player PRIVATE
  "BELLWAVE_VIRTUAL_DRIVER=\"$<TARGET_FILE:bellwave_virtual>\"")
add_dependencies(bench_player bellwave_virtual)
set_target_properties(bench_player PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
