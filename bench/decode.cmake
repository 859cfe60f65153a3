add_executable(bench_decode ${CMAKE_CURRENT_SOURCE_DIR}/bench_decode.cpp)
target_link_libraries(bench_decode PRIVATE k390_acquisition benchmark::benchmark
                      benchmark::benchmark_main)
k390_warnings(bench_decode)
