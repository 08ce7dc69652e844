bellwave_fuzz_target(mp3_scanner SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mp3_scanner_fuzz.cpp LIBS soundfile MADE_SEEDS)
