bellwave_fuzz_target(wav_header SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wav_header_fuzz.cpp LIBS soundfile audiofiles MADE_SEEDS)
