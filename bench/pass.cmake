add_executable(bench_pass ${CMAKE_CURRENT_SOURCE_DIR}/bench_pass.cpp)
target_link_libraries(bench_pass PRIVATE k390_analysis k390_persistence benchmark::benchmark
                      benchmark::benchmark_main)
k390_warnings(bench_pass)
