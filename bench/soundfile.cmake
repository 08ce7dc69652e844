# Decoding speed of the sound file reader against `lame --decode` of the same file, and
# the size of a one-hour file's frame index. Prints ratios; run build/bench/soundfile_bench.
add_executable(soundfile_bench ${CMAKE_CURRENT_SOURCE_DIR}/soundfile_bench.cpp)
target_link_libraries(soundfile_bench PRIVATE soundfile audiofiles)
set_target_properties(soundfile_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
