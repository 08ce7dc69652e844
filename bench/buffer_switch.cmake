# The buffer switch's sample conversions per device type and direction, against memcpy
# of the same device bytes in the same run; prints the ratios (bench_buffer_switch).
if(TARGET host)
  add_executable(bench_buffer_switch ${CMAKE_CURRENT_LIST_DIR}/buffer_switch.cpp)
  target_include_directories(bench_buffer_switch PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(bench_buffer_switch PRIVATE host benchmark::benchmark)
  set_target_properties(bench_buffer_switch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
