add_executable(bench_indexing ${CMAKE_CURRENT_SOURCE_DIR}/bench_indexing.cpp)
target_link_libraries(bench_indexing PRIVATE k390_analysis benchmark::benchmark)
k390_warnings(bench_indexing)
