bellwave_fuzz_target(mp3_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mp3_file_fuzz.cpp LIBS soundfile MADE_SEEDS)
