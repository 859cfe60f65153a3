add_executable(bench_refresh ${CMAKE_CURRENT_SOURCE_DIR}/bench_refresh.cpp)
target_link_libraries(bench_refresh PRIVATE k390_presentation Qt6::Widgets benchmark::benchmark)
k390_warnings(bench_refresh)
