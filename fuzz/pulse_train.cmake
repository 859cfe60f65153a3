k390_fuzz_target(fuzz_pulse_train ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_pulse_train.cpp pulse_train
                 k390_analysis)
