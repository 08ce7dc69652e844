# The virtual device's real-time clock: measured switch rate against the expected one.
add_executable(bench_virtual_clock ${CMAKE_CURRENT_LIST_DIR}/virtual_clock.cpp)
target_include_directories(bench_virtual_clock PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bench_virtual_clock PRIVATE platform)
target_compile_definitions(bench_virtual_clock PRIVATE
  "BELLWAVE_VIRTUAL_DRIVER=\"$<TARGET_FILE:bellwave_virtual>\"")
add_dependencies(bench_virtual_clock bellwave_virtual)
set_target_properties(bench_virtual_clock PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
