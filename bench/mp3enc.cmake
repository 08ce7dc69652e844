# The MP3 encoder: frames per second (Google Benchmark), and a 60-second file next to
# `lame -b 128 --cbr -q 9` in the same run, printed as a ratio (bench_mp3enc_vs_lame).
if(TARGET mp3enc)
  add_executable(bench_mp3enc ${CMAKE_CURRENT_LIST_DIR}/mp3enc.cpp)
  target_include_directories(bench_mp3enc PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(bench_mp3enc PRIVATE mp3enc benchmark::benchmark_main)
  add_executable(bench_mp3enc_vs_lame ${CMAKE_CURRENT_LIST_DIR}/mp3enc_vs_lame.cpp)
  target_include_directories(bench_mp3enc_vs_lame PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(bench_mp3enc_vs_lame PRIVATE -ffp-contract=off)
  target_link_libraries(bench_mp3enc_vs_lame PRIVATE mp3enc)
  set_target_properties(bench_mp3enc bench_mp3enc_vs_lame PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
