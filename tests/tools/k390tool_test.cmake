# k390tool: the built binary run on temporary files.
add_executable(k390tool_test ${CMAKE_CURRENT_LIST_DIR}/k390tool_test.cpp)
target_link_libraries(k390tool_test PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(k390tool_test PRIVATE K390TOOL_PATH="$<TARGET_FILE:k390tool>"
                                                 K390SIM_PATH="$<TARGET_FILE:k390sim>"
                                                 K390_DUAL_DATA="${PROJECT_SOURCE_DIR}/tests/data/dual")
add_dependencies(k390tool_test k390tool k390sim)
k390_warnings(k390tool_test)
gtest_discover_tests(k390tool_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# k390tool capture and stream against k390sim on 127.0.0.1.
add_executable(k390tool_acquire_test ${CMAKE_CURRENT_LIST_DIR}/k390tool_acquire_test.cpp)
find_package(nlohmann_json 3 REQUIRED)
target_link_libraries(k390tool_acquire_test PRIVATE GTest::gtest GTest::gtest_main
                                                    nlohmann_json::nlohmann_json)
target_compile_definitions(k390tool_acquire_test PRIVATE K390TOOL_PATH="$<TARGET_FILE:k390tool>"
                                                         K390SIM_PATH="$<TARGET_FILE:k390sim>")
add_dependencies(k390tool_acquire_test k390tool k390sim)
k390_warnings(k390tool_acquire_test)
# The sanitizer build sums a stream's figures many times slower: room for the summaries.
gtest_discover_tests(k390tool_acquire_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# prove, spectrum, pattern and --drift on stream logs taken from k390sim.
add_executable(k390tool_proving_test ${CMAKE_CURRENT_LIST_DIR}/k390tool_proving_test.cpp)
target_link_libraries(k390tool_proving_test PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(
  k390tool_proving_test PRIVATE K390TOOL_PATH="$<TARGET_FILE:k390tool>"
                                K390SIM_STREAMS="${PROJECT_SOURCE_DIR}/tests/data/k390sim_streams")
add_dependencies(k390tool_proving_test k390tool)
k390_warnings(k390tool_proving_test)
gtest_discover_tests(k390tool_proving_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
