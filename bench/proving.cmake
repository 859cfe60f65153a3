add_executable(bench_proving ${CMAKE_CURRENT_SOURCE_DIR}/bench_proving.cpp)
target_link_libraries(bench_proving PRIVATE k390_analysis benchmark::benchmark)
k390_warnings(bench_proving)
