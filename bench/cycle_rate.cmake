# Capture-rate programs against a running k390sim; named perf_* so bench.sh leaves them to
# scripts/bench-autosample.sh and scripts/bench-stream.sh, which start the simulator.
foreach(name autosample stream)
  add_executable(perf_${name} ${CMAKE_CURRENT_SOURCE_DIR}/bench_${name}.cpp)
  target_link_libraries(perf_${name} PRIVATE k390_app)
  k390_warnings(perf_${name})
endforeach()
